// Writers on other connections: a lock held elsewhere must surface as a
// collision code within the busy timeout, never as a hang.
#include "EngineFixture.h"

namespace {

class ConcurrencyTest : public LayerTest {};

TEST_P(ConcurrencyTest, WriteLockHeldByAnotherConnectionIsACollision) {
  Exec("CREATE TABLE c (lid INTEGER PRIMARY KEY, lqty INTEGER)");
  Exec("INSERT INTO c (lid, lqty) VALUES (1, 0)");
  // Another writer, as a second server process would be: its transaction
  // holds row 1 until it ends.
  std::unique_ptr<CKvDbConnection> holder = Connect();
  holder->BeginTrans();
  holder->Execute("UPDATE c SET lqty = 1 WHERE lid = 1", nullptr, 1);
  {
    std::unique_ptr<CKvDbConnection> db = Connect("busytimeout=100");
    CKvDbRowset rs;
    rs.Open("SELECT * FROM c WHERE lid = 1", db.get(), 0, 2, 0);
    EXPECT_EQ(rs.GetField("lqty")->GetLongValue(), 0);  // readers are not blocked
    rs.GetField("lqty")->SetValue(CComVariant(LONG{2}));
    EXPECT_KVDB_ERROR(rs.Update(), KVDB_E_COLLISION_LOCKED);
    rs.Close();

    db->BeginTrans();
    EXPECT_KVDB_ERROR(db->Execute("UPDATE c SET lqty = 3 WHERE lid = 1", nullptr, 1),
                      KVDB_E_COLLISION_LOCKED);
    db->RollbackTrans();
  }
  holder->RollbackTrans();

  // Once the other writer is done the same write goes through.
  Exec("UPDATE c SET lqty = 4 WHERE lid = 1");
  EXPECT_EQ(QueryLong("SELECT lqty FROM c WHERE lid = 1"), 4);
}

// With savelock=table a writing transaction that takes ids in a table makes
// the next one wait until it ends; a wait that runs out is a collision and
// leaves no transaction behind. ODBC servers have no such lock here and
// begin a plain transaction.
TEST_P(ConcurrencyTest, WritersTakingIdsInOneTableWaitForEachOtherWithTheSaveLock) {
  Exec("CREATE TABLE c (lid INTEGER PRIMARY KEY)");
  Exec("CREATE TABLE d (lid INTEGER PRIMARY KEY)");
  std::unique_ptr<CKvDbConnection> holder = Connect("savelock=table");
  holder->BeginTransWriting({"c"});
  holder->Execute("INSERT INTO c (lid) VALUES (1)", nullptr, 1);

  std::unique_ptr<CKvDbConnection> other = Connect("savelock=table&busytimeout=100");
  if (IsOdbc()) {
    other->BeginTransWriting({"c"});
    other->RollbackTrans();
  } else {
    // Unquoted names are one name in any case.
    EXPECT_KVDB_ERROR(other->BeginTransWriting({"d", "C"}), KVDB_E_COLLISION_LOCKED);
  }
  if (IsPostgres()) {
    // The server locks per table; SQLite has one lock for the file.
    other->BeginTransWriting({"d"});
    other->Execute("INSERT INTO d (lid) VALUES (1)", nullptr, 1);
    other->CommitTrans();
  }
  holder->CommitTrans();

  other->BeginTransWriting({"c", "d"});
  CKvDbRowset rs;
  rs.Open("SELECT MAX(lid) as maxid FROM c", other.get(), -1, -1, 0);
  EXPECT_EQ(rs.GetField("maxid")->GetLongValue(), 1);
  rs.Close();
  other->RollbackTrans();
}

// Without the option a writing transaction locks nothing: another one
// begins at once and reads the same maximum.
TEST_P(ConcurrencyTest, WritersTakingIdsDoNotWaitWithoutTheSaveLock) {
  Exec("CREATE TABLE c (lid INTEGER PRIMARY KEY)");
  Exec("INSERT INTO c (lid) VALUES (1)");
  std::unique_ptr<CKvDbConnection> holder = Connect("savelock=none");
  std::unique_ptr<CKvDbConnection> other = Connect("busytimeout=100");
  holder->BeginTransWriting({"c"});
  other->BeginTransWriting({"c"});
  for (CKvDbConnection* writer : {holder.get(), other.get()}) {
    CKvDbRowset rs;
    rs.Open("SELECT MAX(lid) as maxid FROM c", writer, -1, -1, 0);
    EXPECT_EQ(rs.GetField("maxid")->GetLongValue(), 1);
    rs.Close();
  }
  other->RollbackTrans();
  holder->RollbackTrans();
  EXPECT_KVDB_ERROR(Connect("savelock=rows"), KVDB_E_CONNECTION);
}

KV_ON_BOTH_ENGINES(ConcurrencyTest);

}  // namespace

namespace {

long CountOn(CKvDbConnection& connection, CKvDbRowset& rowset) {
  rowset.Open("SELECT COUNT(*) AS n FROM s", &connection, -1, -1, 0);
  const long count = rowset.GetField("n")->GetLongValue();
  rowset.Close();
  return count;
}

}  // namespace

// Lookups in a shared snapshot see one state of the database on SQLite, and
// on every engine their own connection's writes and, once it ends, everyone
// else's; a rowset may stay open past its end.
TEST_P(ConcurrencyTest, SharedSnapshotSeesItsOwnWritesAndOthersAfterItEnds) {
  Exec("CREATE TABLE s (lid INTEGER PRIMARY KEY)");
  Exec("INSERT INTO s (lid) VALUES (1)");
  std::unique_ptr<CKvDbConnection> db = Connect();
  std::unique_ptr<CKvDbConnection> other = Connect();
  CKvDbRowset rowset;
  CKvDbRowset outliving;
  {
    CKvDbSharedSnapshot snapshot(*db);
    EXPECT_EQ(CountOn(*db, rowset), 1);
    other->Execute("INSERT INTO s (lid) VALUES (2)", nullptr, 1);
    {
      CKvDbSharedSnapshot nested(*db);
      const long seen = CountOn(*db, rowset);
      if (IsSQLite()) {
        EXPECT_EQ(seen, 1);
      }
    }
    const long seenAfterNested = CountOn(*db, rowset);
    if (IsSQLite()) {
      EXPECT_EQ(seenAfterNested, 1);  // the nested end kept it
    }

    db->Execute("INSERT INTO s (lid) VALUES (3)", nullptr, 1);
    EXPECT_EQ(CountOn(*db, rowset), 3);
    outliving.Open("SELECT lid FROM s ORDER BY lid", db.get(), -1, -1, 0);
    other->Execute("INSERT INTO s (lid) VALUES (4)", nullptr, 1);
  }
  outliving.MoveNext();
  EXPECT_EQ(outliving.GetField("lid")->GetLongValue(), 2);
  outliving.Close();
  EXPECT_EQ(CountOn(*db, rowset), 4);

  // A new snapshot starts from the present, not from a reader's old one.
  CKvDbSharedSnapshot later(*db);
  other->Execute("INSERT INTO s (lid) VALUES (5)", nullptr, 1);
  EXPECT_EQ(CountOn(*db, rowset), 5);
}
