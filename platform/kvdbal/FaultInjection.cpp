#include "FaultInjection.h"

#include <atomic>
#include <string>
#include <string_view>

#include "Engine.h"

namespace kvdbal::faults {
namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_calls{0};
std::atomic<long> g_failAt{0};
std::atomic<bool> g_rollbacksFail{false};
std::atomic<const char*> g_failedKind{nullptr};

// Counts one engine call and fails it when it is the chosen one.
void Point(const char* call) {
  if (!g_armed.load(std::memory_order_relaxed)) return;
  const long number = ++g_calls;
  const long failAt = g_failAt.load(std::memory_order_relaxed);
  const bool failedRollback = g_rollbacksFail && number > failAt && std::string_view(call) == "rollback";
  if (number == failAt) g_failedKind = call;
  if (number == failAt || failedRollback)
    throw CKvDbException(E_FAIL, "injected failure of engine call " + std::to_string(number) + " (" +
                                     call + ")");
}

class CountedCursor final : public Cursor {
 public:
  explicit CountedCursor(std::unique_ptr<Cursor> inner) : m_inner(std::move(inner)) {}
  int ColumnCount() const override { return m_inner->ColumnCount(); }
  const ColumnInfo& Column(int index) override { return m_inner->Column(index); }
  const std::string& ColumnName(int index) override { return m_inner->ColumnName(index); }
  long long Advance(long long n) override {
    Point("step");
    return m_inner->Advance(n);
  }
  void Restart() override {
    Point("step");
    m_inner->Restart();
  }
  void ReadValue(int index, VARIANT* out) override { m_inner->ReadValue(index, out); }
  long ReadLong(int index) override { return m_inner->ReadLong(index); }
  std::string ReadString(int index) override { return m_inner->ReadString(index); }

 private:
  std::unique_ptr<Cursor> m_inner;
};

class CountedConnection final : public EngineConnection {
 public:
  explicit CountedConnection(std::shared_ptr<EngineConnection> inner) : m_inner(std::move(inner)) {}
  std::unique_ptr<Cursor> DoOpenCursor(const char* sql) override {
    Point("prepare");
    return std::make_unique<CountedCursor>(m_inner->DoOpenCursor(sql));
  }
  long DoExecute(const std::string& sql) override {
    Point("execute");
    return m_inner->DoExecute(sql);
  }
  long DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) override {
    Point("execute");
    return m_inner->DoExecuteWithParams(sql, params);
  }
  void DoBegin() override {
    Point("begin");
    m_inner->DoBegin();
  }
  void DoBeginWriting(const std::vector<std::string>& tablesTakingIds) override {
    Point("begin");
    m_inner->DoBeginWriting(tablesTakingIds);
  }
  void DoCommit() override {
    Point("commit");
    m_inner->DoCommit();
  }
  // Every engine ends the transaction when a ROLLBACK fails (a server
  // aborts it with the lost session, SQLite rolls back what it can), so the
  // injected failure comes after the real rollback.
  void DoRollback() override {
    m_inner->DoRollback();
    Point("rollback");
  }
  void DoBeginSharedSnapshot() override { m_inner->BeginSharedSnapshot(); }
  void DoEndSharedSnapshot() noexcept override { m_inner->EndSharedSnapshot(); }
  bool HasTransactionToRollBack() const override { return m_inner->HasTransactionToRollBack(); }
  void SchemaChanged() override { m_inner->SchemaChanged(); }
  std::string UpdateFirstMatch(const std::string& table, const std::string& assignments,
                               const std::string& where) const override {
    return m_inner->UpdateFirstMatch(table, assignments, where);
  }
  std::string Placeholder(int n) const override { return m_inner->Placeholder(n); }
  const char* RowIdentity() const override { return m_inner->RowIdentity(); }
  const std::vector<std::string>& PrimaryKey(const std::string& table) override {
    Point("prepare");
    return m_inner->PrimaryKey(table);
  }
  eKvDbServerType NativeServerType() const override { return m_inner->NativeServerType(); }

 private:
  std::shared_ptr<EngineConnection> m_inner;
};

}  // namespace

#ifdef KV_FAULT_INJECTION
bool Available() { return true; }
std::shared_ptr<EngineConnection> Wrapped(std::shared_ptr<EngineConnection> engine) {
  return std::make_shared<CountedConnection>(std::move(engine));
}
#else
bool Available() { return false; }
std::shared_ptr<EngineConnection> Wrapped(std::shared_ptr<EngineConnection> engine) { return engine; }
#endif

void BeforeOpen() { Point("open"); }

void FailNthCall(long n, bool rollbacksFailToo) {
  g_calls = 0;
  g_failAt = n;
  g_rollbacksFail = rollbacksFailToo;
  g_failedKind = nullptr;
  g_armed = true;
}

long Disarm() {
  g_armed = false;
  return g_calls.load();
}

}  // namespace kvdbal::faults

namespace kvdbal::faults {
std::string FailedCallKind() {
  const char* kind = g_failedKind.load();
  return kind ? kind : "";
}
}  // namespace kvdbal::faults
