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

KV_ON_BOTH_ENGINES(ConcurrencyTest);

}  // namespace
