// Walking a streaming rowset in every direction, at both ends and past them.
#include "EngineFixture.h"

namespace {

class NavigationTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    if (IsSkipped()) return;
    Exec("CREATE TABLE nav (id INTEGER PRIMARY KEY, name VARCHAR(20))");
    for (int i = 1; i <= 5; ++i)
      Exec("INSERT INTO nav (id, name) VALUES (" + std::to_string(i) + ", 'row" + std::to_string(i) + "')");
    m_rs.Open("SELECT id, name FROM nav ORDER BY id", m_db.get(), -1, -1, 0);
  }
  long Id() { return m_rs.GetField(0)->GetLongValue(); }
  CKvDbRowset m_rs;
};

// One walk over the five rows. Each step names a move and where the rowset
// stands after it: a row's id, 0 before the first row, 6 after the last. A
// step marked refused must raise, and leaves the rowset where it was.
TEST_P(NavigationTest, EveryMoveLandsOnItsRowOrAtAnEndAndNothingReadsOrStepsBeyond) {
  enum Kind { Next, Prev, First, Last, Move };
  const struct {
    Kind kind;
    long count;  // for Move
    long at;
    bool refused = false;
  } steps[] = {
      {Next, 0, 2},  {Next, 0, 3},  {Next, 0, 4},  {Next, 0, 5},  {Next, 0, 6},   {Next, 0, 6, true},
      {Prev, 0, 5},  {First, 0, 1}, {Prev, 0, 0},  {Prev, 0, 0, true}, {Next, 0, 1}, {Last, 0, 5},
      {Last, 0, 5},  {Prev, 0, 4},  {Prev, 0, 3},  {First, 0, 1}, {Move, 2, 3},   {Move, -1, 2},
      {Move, 0, 2},  {Move, 10, 6}, {Move, 0, 6, true}, {Move, 3, 6}, {Move, -2, 4}, {Move, -10, 0},
      {Move, -1, 0}, {Move, 3, 3},  {First, 0, 1}, {Move, 5, 6}, {Last, 0, 5},
  };
  EXPECT_EQ(Id(), 1);
  for (const auto& s : steps) {
    const auto move = [&] {
      switch (s.kind) {
        case Next: m_rs.MoveNext(); break;
        case Prev: m_rs.MovePrev(); break;
        case First: m_rs.MoveFirst(); break;
        case Last: m_rs.MoveLast(); break;
        case Move: m_rs.Move(s.count); break;
      }
    };
    const std::string step = "step " + std::to_string(&s - steps);
    if (s.refused) {
      EXPECT_KVDB_ERROR(move(), KVDB_E_NOCURRENTROW);
    } else {
      move();
    }
    EXPECT_EQ(m_rs.IsBOF(), s.at == 0) << step;
    EXPECT_EQ(m_rs.IsEOF(), s.at == 6) << step;
    if (s.at == 0 || s.at == 6) {
      EXPECT_KVDB_ERROR(m_rs.GetField(0)->GetValue(), KVDB_E_NOCURRENTROW);
      EXPECT_KVDB_ERROR(m_rs.GetField(0)->GetLongValue(), KVDB_E_NOCURRENTROW);
      EXPECT_KVDB_ERROR(m_rs.GetField(1)->GetStringValue(), KVDB_E_NOCURRENTROW);
    } else {
      EXPECT_EQ(Id(), s.at) << step;
      EXPECT_EQ(m_rs.GetField(1)->GetStringValue(), "row" + std::to_string(s.at)) << step;
    }
  }
}

// A long result streams in both directions. Read outside a transaction,
// what the connection writes meanwhile is committed at once, the rowset
// reads on to its end, and no transaction is left open once it is closed or
// read through.
TEST_P(NavigationTest, LongResultsStreamInBothDirectionsAndHoldBackNoWrite) {
  Exec("CREATE TABLE big (id INTEGER PRIMARY KEY, name VARCHAR(20))");
  Exec("INSERT INTO big (id, name) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
       "WHERE n < 1000) SELECT n, 'r' || n FROM s");
  CKvDbRowset rs;
  rs.Open("SELECT id, name FROM big ORDER BY id", m_db.get(), -1, -1, 0);
  long sum = 0, rows = 0;
  for (; !rs.IsEOF(); rs.MoveNext(), ++rows) sum += rs.GetField(0)->GetLongValue();
  EXPECT_EQ(rows, 1000);
  EXPECT_EQ(sum, 500500);

  rs.MoveFirst();
  rs.Move(450);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 451);
  EXPECT_EQ(rs.GetField("name")->GetStringValue(), "r451");
  rs.MovePrev();
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 450);
  rs.Move(300);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 750);
  rs.MoveLast();
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 1000);
  rs.MovePrev();
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 999);
  rs.Move(-998);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 1);
  rs.Move(2000);
  EXPECT_TRUE(rs.IsEOF());

  // The last row is found without a walk done before.
  rs.Open("SELECT id FROM big ORDER BY id DESC", m_db.get(), -1, -1, 0);
  rs.MoveLast();
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 1);
  rs.Close();

  auto other = Connect();
  const auto seenByOther = [&] {
    CKvDbRowset rs;
    rs.Open("SELECT COUNT(*) FROM nav", other.get(), -1, -1, 0);
    return rs.GetField(0)->GetLongValue();
  };
  const long pid = IsPostgres() ? QueryLong("SELECT pg_backend_pid()") : 0;
  const auto openTransactions = [&] {
    if (!IsPostgres()) return 0L;
    CKvDbRowset rs;
    rs.Open(("SELECT COUNT(*) FROM pg_stat_activity WHERE state LIKE 'idle in transaction%' AND pid = " +
             std::to_string(pid)).c_str(), other.get(), -1, -1, 0);
    return rs.GetField(0)->GetLongValue();
  };
  for (int round = 0; round < 2; ++round) {  // the second sees the query's shape again
    rs.Open("SELECT id FROM big ORDER BY id", m_db.get(), -1, -1, 0);
    rs.Move(300);
    Exec("INSERT INTO nav (id, name) VALUES (" + std::to_string(10 + round) + ", 'new')");
    EXPECT_EQ(seenByOther(), 6 + round);
    long rows = 301;
    for (rs.MoveNext(); !rs.IsEOF(); rs.MoveNext()) ++rows;
    EXPECT_EQ(rows, 1000);
    EXPECT_EQ(openTransactions(), 0);
  }
  rs.Open("SELECT id FROM big ORDER BY id", m_db.get(), -1, -1, 0);
  rs.Move(500);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 501);
  rs.Close();
  EXPECT_EQ(openTransactions(), 0);
}

TEST_P(NavigationTest, ClosedRowsetRaisesUntilOpenedAgain) {
  m_rs.Close();
  EXPECT_FALSE(m_rs.IsOpen());
  m_rs.Close();  // closing twice is harmless
  EXPECT_KVDB_ERROR(m_rs.IsEOF(), KVDB_E_CLOSED);
  EXPECT_KVDB_ERROR(m_rs.IsBOF(), KVDB_E_CLOSED);
  EXPECT_KVDB_ERROR(m_rs.MoveNext(), KVDB_E_CLOSED);
  EXPECT_KVDB_ERROR(m_rs.GetField(0), KVDB_E_CLOSED);
  EXPECT_KVDB_ERROR(m_rs.GetField("id"), KVDB_E_CLOSED);
  EXPECT_KVDB_ERROR(m_rs.AddNew(), KVDB_E_CLOSED);

  m_rs.Open("SELECT name FROM nav WHERE id = 4", m_db.get(), -1, -1, 0);
  EXPECT_EQ(m_rs.GetField(0)->GetStringValue(), "row4");
}

KV_ON_BOTH_ENGINES(NavigationTest);

}  // namespace
