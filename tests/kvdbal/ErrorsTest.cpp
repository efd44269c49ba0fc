// Engine failures as CKvDbException with the engine's message and code,
// connections that find their database or server session gone, and the
// server cursors that closed rowsets leave behind.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "EngineFixture.h"

namespace {

class ErrorsTest : public LayerTest {};

TEST_P(ErrorsTest, DatabaseFileDeletedOrReplacedUnderTheConnectionIsNoPlaceToWrite) {
  if (IsServer()) GTEST_SKIP() << "a file of SQLite's own; a server keeps its files to itself";
  Exec("CREATE TABLE e (lid INTEGER)");
  auto writer = Connect();
  writer->Execute("INSERT INTO e (lid) VALUES (1)", nullptr, 1);

  // Replaced: another file now has the name.
  const std::string path = SqlitePath();
  std::filesystem::rename(path, path + ".old");
  {
    auto other = Connect();
    other->Execute("CREATE TABLE e (lid INTEGER)", nullptr, 1);
  }
  EXPECT_EQ(EXPECT_KVDB_ERROR(writer->Execute("INSERT INTO e (lid) VALUES (2)", nullptr, 1), KVDB_E_CONNECTION),
            "the database file " + path + " was replaced while open");
  {
    auto fresh = Connect();
    CKvDbRowset rs;
    rs.Open("SELECT COUNT(*) FROM e", fresh.get(), -1, -1, 0);
    EXPECT_EQ(rs.GetField(0)->GetLongValue(), 0) << "nothing reached the new file";
  }

  // Deleted: neither saves in a transaction nor single statements go on.
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  EXPECT_KVDB_ERROR(writer->BeginTrans(), KVDB_E_CONNECTION);
  EXPECT_KVDB_ERROR(writer->Execute("INSERT INTO e (lid) VALUES (3)", nullptr, 1), KVDB_E_CONNECTION);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + ".old" + suffix);
}

TEST_P(ErrorsTest, LostServerSessionConnectsAgainOutsideATransaction) {
  if (IsSQLite()) GTEST_SKIP() << "SQLite has no server session to lose";
  Exec("CREATE TABLE e (lid INTEGER)");
  auto db = Connect();
  const char* dropOwnSession =
      IsMariaDB() ? "KILL CONNECTION CONNECTION_ID()" : "SELECT pg_terminate_backend(pg_backend_pid())";
  EXPECT_KVDB_ERROR(db->Execute(dropOwnSession, nullptr, 1), KVDB_E_CONNECTION);
  db->Execute("INSERT INTO e (lid) VALUES (1)", nullptr, 1);

  // Inside a transaction the loss is reported and nothing reconnects until
  // the transaction has ended: its work is gone.
  db->BeginTrans();
  db->Execute("INSERT INTO e (lid) VALUES (2)", nullptr, 1);
  EXPECT_KVDB_ERROR(db->Execute(dropOwnSession, nullptr, 1), KVDB_E_CONNECTION);
  EXPECT_KVDB_ERROR(db->Execute("INSERT INTO e (lid) VALUES (3)", nullptr, 1), KVDB_E_CONNECTION);
  db->RollbackTrans();
  db->Execute("INSERT INTO e (lid) VALUES (4)", nullptr, 1);

  db->BeginTrans();
  db->Execute("INSERT INTO e (lid) VALUES (5)", nullptr, 1);
  EXPECT_KVDB_ERROR(db->Execute(dropOwnSession, nullptr, 1), KVDB_E_CONNECTION);
  // libpq finds the loss only when it sends COMMIT; through ODBC the loss
  // was seen already, so the transaction is known to be gone.
  EXPECT_PRED_FORMAT2(::testing::IsSubstring,
                      IsOdbc() ? "its work is gone" : "whether the transaction was committed is unknown",
                      EXPECT_KVDB_ERROR(db->CommitTrans(), KVDB_E_CONNECTION));
  db->RollbackTrans();
  CKvDbRowset rs;
  rs.Open("SELECT COUNT(*) FROM e", db.get(), -1, -1, 0);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 2) << "rows 1 and 4";
  if (!IsPostgres()) return;

  // Ended from elsewhere while idle, as a server restart ends every session:
  // the connection reads the server's farewell before it sends, and its
  // next transaction and query run on a new session.
  const auto endFromElsewhere = [&] {
    rs.Open("SELECT pg_backend_pid()", db.get(), -1, -1, 0);
    const std::string pid = rs.GetField(0)->GetStringValue();
    rs.Close();
    Exec("SELECT pg_terminate_backend(" + pid + ", 20000)");
  };
  endFromElsewhere();
  db->BeginTrans();
  db->Execute("INSERT INTO e (lid) VALUES (6)", nullptr, 1);
  db->CommitTrans();
  endFromElsewhere();
  rs.Open("SELECT COUNT(*) FROM e", db.get(), -1, -1, 0);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 3) << "rows 1, 4 and 6";
}

TEST_P(ErrorsTest, EngineFailuresCarryTheEnginesMessage) {
  Exec("CREATE TABLE e (lid INTEGER)");
  CKvDbRowset rs;
  const std::string syntax =
      EXPECT_KVDB_ERROR(rs.Open("SELEC lid FROM e", m_db.get(), -1, -1, 0), KVDB_E_ERRORSINCOMMAND);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, IsMariaDB() ? "error in your SQL syntax" : "syntax error", syntax);
  // Through ODBC the driver's state and the server's own number come along.
  if (IsOdbc()) {
    EXPECT_PRED_FORMAT2(::testing::IsSubstring, "(SQLSTATE 42", syntax);
  }
  EXPECT_KVDB_ERROR(rs.Open("SELECT lid FROM missing", m_db.get(), -1, -1, 0), KVDB_E_NOTABLE);
  EXPECT_KVDB_ERROR(Exec("DELETE FROM missing"), KVDB_E_NOTABLE);
  EXPECT_KVDB_ERROR(Exec("UPDATE e SET nocolumn = 1"), KVDB_E_ERRORSINCOMMAND);
  // The connection stays usable after a failure.
  Exec("INSERT INTO e (lid) VALUES (1)");
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM e"), 1);
}

TEST_P(ErrorsTest, AFullDatabaseHasItsOwnCode) {
  if (IsServer()) GTEST_SKIP() << "SQLite's page limit stands in for a full disk; a server has no such limit";
  Exec("CREATE TABLE e (strdata TEXT)");
  Exec("PRAGMA max_page_count = " + std::to_string(QueryLong("PRAGMA page_count") + 2));
  const std::string insert = "INSERT INTO e (strdata) VALUES ('" + std::string(64 * 1024, 'x') + "')";
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "full", EXPECT_KVDB_ERROR(Exec(insert), KVDB_E_DISKFULL));
}

TEST_P(ErrorsTest, ClosedRowsetsLeaveFewServerCursorsBehind) {
  if (!IsPostgres())
    GTEST_SKIP() << "server cursors of the PostgreSQL engine's own (through ODBC, queries run on reader connections)";
  Exec("CREATE TABLE e (lid INTEGER)");
  Exec("INSERT INTO e (lid) VALUES (1), (2)");
  const auto cursors = [&] { return QueryLong("SELECT COUNT(*) FROM pg_cursors"); };
  for (int i = 0; i < 100; ++i) {
    CKvDbRowset rs;
    rs.Open("SELECT lid FROM e", m_db.get(), -1, -1, 0);
  }
  // Closes wait for the next statement, a bounded number of them.
  EXPECT_LE(cursors(), 17);
  // A failing statement and a rolled-back transaction take their closes
  // along without a trace of them in their own results.
  { CKvDbRowset rs; rs.Open("SELECT lid FROM e", m_db.get(), -1, -1, 0); }
  EXPECT_KVDB_ERROR(Exec("INSERT INTO missing (lid) VALUES (1)"), KVDB_E_NOTABLE);
  m_db->BeginTrans();
  { CKvDbRowset rs; rs.Open("SELECT lid FROM e", m_db.get(), -1, -1, 0); }
  Exec("INSERT INTO e (lid) VALUES (3)");
  m_db->RollbackTrans();
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM e"), 2);
  EXPECT_LE(cursors(), 2);
}

KV_ON_BOTH_ENGINES(ErrorsTest);

}  // namespace
