// Writer processes saving into one database at once with savelock=table:
// every save they are told succeeded is there exactly once, under an id no
// other save got; each new id is read only after the save has locked its
// tables, and writers wait for each other instead of colliding. (Without
// the lock the keys and the retry keep saves apart: bench/serve-load shows
// that.)
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kvdbal/KvDbal.h"
#include "pump_fixtures.h"

namespace {

constexpr int kWriters = 6;
constexpr int kSavesEach = 15;
// A wait for the lock never runs out here, so with the lock no save of the
// test may collide.
constexpr const char* kSaveLock = "savelock=table&busytimeout=60000";

// The statements of a save that make other writers wait: SQLite's
// immediate transaction, PostgreSQL's advisory locks.
bool IsLock(const std::string& sql) {
  return sql.find("pg_advisory_xact_lock(") != std::string::npos || sql == "BEGIN IMMEDIATE";
}

struct WritersOutcome {
  std::map<LONG, std::string> saved;  // id -> the text its save wrote
  int duplicates = 0;
  int unguardedIdReads = 0;  // MAX(lid) read while the save's tables were not locked
  int rollbacks = 0;
};

// What a writer process reports: "id text" per save, then how many new ids
// it read while its tables were not locked and how many attempts it rolled
// back.
std::string RunWriter(TestDatabase& db, int writer) {
  bool locked = false;
  int unguardedIdReads = 0, rollbacks = 0;
  KvDbSetStatementObserver([&](const std::string& sql) {
    if (IsLock(sql)) locked = true;
    if (sql == "COMMIT" || sql == "ROLLBACK") locked = false;
    if (sql == "ROLLBACK") ++rollbacks;
    if (sql.rfind("SELECT MAX(lid)", 0) == 0 && !locked) ++unguardedIdReads;
  });
  ComPtr<IDispatch> session = db.NewSession();
  ComPtr<IKvDataPump> pump = NewDataPump();
  std::ostringstream report;
  if (!pump || pump->Init(session.Get(), kOrderEditForm) != S_OK) return "init failed\n";
  for (int i = 0; i < kSavesEach; ++i) {
    pump->CleanFieldValues();
    const std::string text = "w" + std::to_string(writer) + "-" + std::to_string(i);
    pump->SetFieldValue(CComBSTR("strno").Get(), Str(text));
    pump->SetFieldValueEx(CComBSTR("strtitle").Get(), 1031, Str("de " + text));
    pump->SetFieldValueEx(CComBSTR("strtitle").Get(), 1033, Str("en " + text));
    LONG id = 0;
    if (pump->SaveFieldValues(&id) == S_OK && id > 0) report << id << " " << text << "\n";
  }
  KvDbSetStatementObserver(nullptr);
  report << "unguarded " << unguardedIdReads << "\nrollbacks " << rollbacks << "\n";
  return report.str();
}

WritersOutcome RunWriterProcesses(TestDatabase& db) {
  std::vector<std::pair<pid_t, int>> children;  // pid, read end of its pipe
  for (int w = 0; w < kWriters; ++w) {
    int fds[2];
    EXPECT_EQ(0, pipe(fds));
    const pid_t pid = fork();
    EXPECT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      const std::string report = RunWriter(db, w);
      const bool written = write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
      _exit(written ? 0 : 1);
    }
    close(fds[1]);
    children.emplace_back(pid, fds[0]);
  }

  WritersOutcome outcome;
  for (const auto& [pid, fd] : children) {
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::istringstream lines(report);
    std::string first, second;
    while (lines >> first >> second) {
      if (first == "unguarded")
        outcome.unguardedIdReads += std::stoi(second);
      else if (first == "rollbacks")
        outcome.rollbacks += std::stoi(second);
      else if (!outcome.saved.emplace(std::stol(first), second).second)
        ++outcome.duplicates;
    }
  }
  return outcome;
}

class ConcurrentLockedSaveTest : public PumpTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!IsSkipped()) Open(GetParam(), kSaveLock);
  }
  // ODBC servers have no lock for it: the save begins a plain transaction.
  bool Locks() const { return !IsOdbc(); }
};

TEST_P(ConcurrentLockedSaveTest, WriterProcessesWithTheLockLoseNoSaveAndNeverCollide) {
  const WritersOutcome outcome = RunWriterProcesses(*db);
  // Every save reported is in both tables once, under its own id.
  EXPECT_EQ(kWriters * kSavesEach, static_cast<int>(outcome.saved.size()));
  EXPECT_EQ(0, outcome.duplicates);
  EXPECT_EQ(kWriters * kSavesEach, db->Count("krorder"));
  EXPECT_EQ(2 * kWriters * kSavesEach, db->Count("krorder_l"));
  for (const auto& [id, text] : outcome.saved) {
    ASSERT_EQ(text, Text("krorder", "strno", id));
    ASSERT_EQ(2, db->Count("krorder_l", "lparentid=" + std::to_string(id)));
  }
  if (Locks()) {
    EXPECT_EQ(0, outcome.unguardedIdReads) << "new ids read before the tables were locked";
    EXPECT_EQ(0, outcome.rollbacks) << "saves collided although they waited for each other";
  }
}

// A new record takes ids in both its tables and locks both, each under a
// lock of its own; a save that names every row reads no id and locks no
// table (SQLite's immediate transaction locks the file whatever it saves).
TEST_P(ConcurrentLockedSaveTest, ASaveLocksTheTablesItTakesNewIdsInAndNoOther) {
  const auto advisoryLocks = [](const StatementCapture& capture) {
    const std::string lock = "pg_advisory_xact_lock(";
    size_t n = 0;
    for (const std::string& sql : capture.Statements())
      for (size_t at = sql.find(lock); at != std::string::npos; at = sql.find(lock, at + 1)) ++n;
    return n;
  };
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  Set("strno", Str("new"));
  Set("strtitle", Str("neu"), 1031);
  LONG id = 0;
  {
    StatementCapture capture;
    ASSERT_EQ(S_OK, pump->SaveFieldValues(&id));
    EXPECT_EQ(IsPostgres() ? 2u : 0u, advisoryLocks(capture));
  }
  Set("strno", Str("changed"));
  StatementCapture capture;
  ASSERT_EQ(S_OK, pump->SaveFieldValues(&id));
  EXPECT_EQ(0u, advisoryLocks(capture));
  for (const std::string& sql : capture.Statements()) EXPECT_NE(0u, sql.rfind("SELECT MAX(lid)", 0)) << sql;
  EXPECT_EQ("changed", Text("krorder", "strno", id));
}

KV_ON_BOTH_ENGINES(ConcurrentLockedSaveTest);

}  // namespace
