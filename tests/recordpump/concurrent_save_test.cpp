// Writer processes saving into one database at once: every save they are
// told succeeded is there exactly once, under an id no other save got. With
// savelock=table each new id is read only after the save has locked its
// tables, and writers wait for each other instead of colliding; without it
// a save sends what it always sent and relies on the keys and the retry.
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
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

size_t AdvisoryLocksIn(const std::string& sql) {
  size_t n = 0;
  for (size_t at = sql.find("pg_advisory_xact_lock("); at != std::string::npos;
       at = sql.find("pg_advisory_xact_lock(", at + 1))
    ++n;
  return n;
}

// The statements of a save that make other writers wait: SQLite's
// immediate transaction, PostgreSQL's advisory locks.
bool IsLock(const std::string& sql) { return AdvisoryLocksIn(sql) > 0 || sql == "BEGIN IMMEDIATE"; }

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

class ConcurrentSaveTest : public PumpTest {
 protected:
  // Every save reported is in both tables once, under its own id.
  void ExpectEverySaveOnce(const WritersOutcome& outcome) {
    EXPECT_EQ(kWriters * kSavesEach, static_cast<int>(outcome.saved.size()));
    EXPECT_EQ(0, outcome.duplicates);
    EXPECT_EQ(kWriters * kSavesEach, db->Count("krorder"));
    EXPECT_EQ(2 * kWriters * kSavesEach, db->Count("krorder_l"));
    for (const auto& [id, text] : outcome.saved) {
      ASSERT_EQ(text, Text("krorder", "strno", id));
      ASSERT_EQ(2, db->Count("krorder_l", "lparentid=" + std::to_string(id)));
    }
  }
};

class ConcurrentLockedSaveTest : public ConcurrentSaveTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!IsSkipped()) Open(GetParam(), kSaveLock);
  }
  // ODBC servers have no lock for it: the save begins a plain transaction.
  bool Locks() const { return !IsOdbc(); }
};

TEST_P(ConcurrentSaveTest, WriterProcessesWithoutTheLockGetDistinctIdsAndLoseNoSave) {
  const WritersOutcome outcome = RunWriterProcesses(*db);
  ExpectEverySaveOnce(outcome);
  std::cout << "[          ] " << outcome.rollbacks << " attempts rolled back without the lock\n";
}

TEST_P(ConcurrentLockedSaveTest, WriterProcessesWithTheLockLoseNoSaveAndNeverCollide) {
  const WritersOutcome outcome = RunWriterProcesses(*db);
  ExpectEverySaveOnce(outcome);
  if (Locks()) {
    EXPECT_EQ(0, outcome.unguardedIdReads) << "new ids read before the tables were locked";
    EXPECT_EQ(0, outcome.rollbacks) << "saves collided although they waited for each other";
  }
}

// Without the lock a save sends what it always did: a plain BEGIN, then the
// id query; nothing anywhere locks.
TEST_P(ConcurrentSaveTest, WithoutTheLockASaveLocksNothing) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  Set("strno", Str("new"));
  Set("strtitle", Str("neu"), 1031);
  LONG id = 0;
  StatementCapture capture;
  ASSERT_EQ(S_OK, pump->SaveFieldValues(&id));
  const std::vector<std::string>& statements = capture.Statements();
  ASSERT_GE(statements.size(), 2u);
  EXPECT_EQ("BEGIN", statements[0]);
  EXPECT_EQ("SELECT MAX(lid) as maxid FROM krorder", statements[1]);
  for (const std::string& sql : statements) EXPECT_FALSE(IsLock(sql)) << sql;
}

// The lock comes right after the transaction begins, before the first id is
// read; a save that names every row reads no id and locks no table.
TEST_P(ConcurrentLockedSaveTest, OnlySavesThatReadNewIdsLockAndTheyLockFirst) {
  if (!Locks()) GTEST_SKIP() << "no lock for saves through ODBC";
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  Set("strno", Str("new"));
  Set("strtitle", Str("neu"), 1031);
  LONG id = 0;
  std::vector<std::string> statements;
  {
    StatementCapture capture;
    ASSERT_EQ(S_OK, pump->SaveFieldValues(&id));
    statements = capture.Statements();
  }
  ASSERT_GE(statements.size(), 3u);
  const size_t lockAt = IsPostgres() ? 1 : 0;
  if (IsPostgres()) {
    EXPECT_EQ("BEGIN", statements[0]);
    // Both tables take ids, each under a lock of its own.
    EXPECT_EQ(2u, AdvisoryLocksIn(statements[1])) << statements[1];
  }
  EXPECT_TRUE(IsLock(statements[lockAt])) << statements[lockAt];
  EXPECT_EQ("SELECT MAX(lid) as maxid FROM krorder", statements[lockAt + 1]);
  EXPECT_EQ(1, db->Count("krorder_l", "lparentid=" + std::to_string(id)));

  // The store now names both rows: the second save only updates.
  Set("strno", Str("changed"));
  StatementCapture capture;
  ASSERT_EQ(S_OK, pump->SaveFieldValues(&id));
  for (const std::string& sql : capture.Statements()) {
    EXPECT_EQ(0u, AdvisoryLocksIn(sql)) << sql;
    EXPECT_NE(0u, sql.rfind("SELECT MAX(lid)", 0)) << sql;
  }
  EXPECT_EQ("changed", Text("krorder", "strno", id));
}

KV_ON_BOTH_ENGINES(ConcurrentSaveTest);
KV_ON_BOTH_ENGINES(ConcurrentLockedSaveTest);

}  // namespace
