// Writers in other processes: a lock held elsewhere must surface as a
// collision code within the busy timeout, never as a hang.
#include <sys/wait.h>
#include <unistd.h>

#include "EngineFixture.h"

namespace {

class ConcurrencyTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    if (IsSkipped()) return;
    Exec("CREATE TABLE c (lid INTEGER PRIMARY KEY, lqty INTEGER)");
    Exec("INSERT INTO c (lid, lqty) VALUES (1, 0)");
  }

  // Forks a process that opens its own connection, begins a transaction,
  // writes row 1 and holds its locks until told to finish.
  void StartLockHolder() {
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    std::string connection = ConnectionString();
    m_child = fork();
    ASSERT_GE(m_child, 0);
    if (m_child == 0) {
      int status = 1;
      try {
        IDispatch* session = nullptr;
        KvDbOpenSessionConnection(connection, &session);
        CKvDbConnection db(session, false);
        db.BeginTrans();
        db.Execute("UPDATE c SET lqty = 1 WHERE lid = 1", nullptr, 1);
        char c = 'r';
        if (write(ready[1], &c, 1) == 1 && read(done[0], &c, 1) == 1) status = 0;
        db.RollbackTrans();
      } catch (...) {
      }
      _exit(status);
    }
    close(ready[1]);
    close(done[0]);
    m_done = done[1];
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1) << "the lock holder did not start";
    close(ready[0]);
  }

  void StopLockHolder() {
    char c = 'd';
    ASSERT_EQ(write(m_done, &c, 1), 1);
    close(m_done);
    int status = -1;
    ASSERT_EQ(waitpid(m_child, &status, 0), m_child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  pid_t m_child = -1;
  int m_done = -1;
};

TEST_P(ConcurrencyTest, WriteLockHeldByAnotherProcessIsACollision) {
  m_db.reset();  // no connection of this process crosses the fork
  StartLockHolder();
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
  StopLockHolder();

  // Once the other process is gone the same write goes through.
  m_db = Connect();
  Exec("UPDATE c SET lqty = 4 WHERE lid = 1");
  EXPECT_EQ(QueryLong("SELECT lqty FROM c WHERE lid = 1"), 4);
}

KV_ON_BOTH_ENGINES(ConcurrencyTest);

}  // namespace
