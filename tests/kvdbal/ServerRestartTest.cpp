// A PostgreSQL server restarted under open connections, as an administrator
// does it: connections that were idle carry on with the next statement on a
// new session; a transaction that was under way is reported lost. The
// cluster is the test's own, since restarting a shared one would fail the
// tests running on it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/kvdbal/KvDbal.h"
#include "tests/fixture/TempDir.h"

namespace {

bool PostgresServerInstalled() {
  std::error_code ec;
  for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
    if (std::filesystem::exists(version.path() / "bin" / "pg_ctl")) return true;
  return std::system("command -v pg_ctl >/dev/null 2>&1") == 0;
}

// The cluster script's output (stdout) for command on dir; "" when it failed.
std::string Cluster(const std::string& command, const std::string& dir) {
  const std::string line = std::string("bash ") + KV_PG_CLUSTER_SCRIPT + " " + command + " '" + dir + "'";
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return "";
  std::string out;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return status == 0 ? (out.empty() ? "ok" : out) : "";
}

class ServerRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PostgresServerInstalled()) GTEST_SKIP() << "the PostgreSQL server binaries are not installed";
    m_url = Cluster("start", m_dir.Path());
    ASSERT_FALSE(m_url.empty()) << "the test's cluster did not start";
  }
  void TearDown() override {
    if (!m_url.empty()) Cluster("stop", m_dir.Path());
  }

  std::unique_ptr<CKvDbConnection> Connect() const {
    IDispatch* session = nullptr;
    KvDbOpenSessionConnection(m_url, &session);
    auto connection = std::make_unique<CKvDbConnection>(session, true);
    session->Release();
    return connection;
  }
  void Restart() { ASSERT_EQ("ok", Cluster("restart", m_dir.Path())); }

  TempDir m_dir;
  std::string m_url;
};

long Count(CKvDbConnection& db) {
  CKvDbRowset rs;
  rs.Open("SELECT COUNT(*) FROM e", &db, -1, -1, 0);
  return rs.GetField(0)->GetLongValue();
}

TEST_F(ServerRestartTest, IdleConnectionsCarryOnAndALossInATransactionIsReported) {
  auto reader = Connect(), writer = Connect(), transaction = Connect(), saver = Connect();
  writer->Execute("CREATE TABLE e (lid INTEGER PRIMARY KEY)", nullptr, 1);
  writer->Execute("INSERT INTO e (lid) VALUES (1)", nullptr, 1);
  EXPECT_EQ(1, Count(*reader));
  transaction->BeginTrans();
  transaction->Execute("INSERT INTO e (lid) VALUES (2)", nullptr, 1);
  saver->Execute("SELECT 1", nullptr, 1);

  Restart();

  // Nothing was under way on these: each runs its next statement.
  EXPECT_EQ(1, Count(*reader)) << "row 2 went with its transaction";
  writer->Execute("INSERT INTO e (lid) VALUES (3)", nullptr, 1);
  saver->BeginTrans();
  saver->Execute("INSERT INTO e (lid) VALUES (4)", nullptr, 1);
  saver->CommitTrans();

  // The open transaction's work is gone, and its owner hears so until it
  // ends the transaction; then it carries on as well.
  CKvDbRowset rs;
  try {
    transaction->Execute("INSERT INTO e (lid) VALUES (5)", nullptr, 1);
    ADD_FAILURE() << "the lost transaction went on";
  } catch (const CKvDbException& e) {
    EXPECT_EQ(KVDB_E_CONNECTION, e.GetResult()) << e.Message();
  }
  transaction->RollbackTrans();
  EXPECT_EQ(3, Count(*transaction));
  EXPECT_EQ(3, Count(*reader));
}

}  // namespace
