// Reused statements: the literal shapes texts are keyed by, and the same
// results, types, NULLs and errors with the cache as without it.
#include <algorithm>
#include <cstring>
#include <optional>

#include <sqlite3.h>

#include "EngineFixture.h"
#include "platform/kvdbal/LiteralShape.h"
#include "platform/kvdbal/sqlite/SqliteStatementCache.h"

namespace {

std::string Mark(int n) { return "?" + std::to_string(n); }

// A statement lent out is never lent twice nor finalized under its
// borrower: not when it is evicted, not when the cache is cleared. Real
// statements, so that a double finalize or a use after one shows under
// the sanitizers.
TEST(SqliteStatementCache, ALentStatementStaysItsBorrowersUntilItComesBack) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  auto prepare = [db](const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK);
    return stmt;
  };
  auto stepsTo = [](sqlite3_stmt* stmt) {
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    return sqlite3_column_int(stmt, 0);
  };
  {
    kvdbal::SqliteStatementCache cache(2);
    const std::string one = "SELECT 1", two = "SELECT 2", three = "SELECT 3";
    EXPECT_EQ(cache.Take(one), nullptr);
    sqlite3_stmt* first = prepare(one);
    cache.Give(one, first);
    EXPECT_EQ(cache.Take(one), first);
    // Lent: a second cursor of the shape gets its own, which is not kept.
    EXPECT_EQ(cache.Take(one), nullptr);
    cache.Give(one, prepare(one));
    EXPECT_EQ(cache.Size(), 1u);
    // Two more shapes push the lent one out; its borrower still steps it.
    cache.Give(two, prepare(two));
    cache.Give(three, prepare(three));
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(stepsTo(first), 1);
    cache.Give(one, first);  // kept again, pushing out "SELECT 2"
    EXPECT_EQ(cache.Take(two), nullptr);

    // Cleared while lent: the borrower's statement lives on.
    sqlite3_stmt* lent = cache.Take(three);
    ASSERT_NE(lent, nullptr);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(cache.Take(one), nullptr);
    EXPECT_EQ(stepsTo(lent), 3);
    cache.Give(three, lent);
    EXPECT_EQ(cache.Take(three), lent);
    // Forgotten, it is the caller's to finalize.
    cache.Forget(three, lent);
    sqlite3_finalize(lent);
    EXPECT_EQ(cache.Size(), 0u);
  }
  // Every statement the cache kept was finalized with it.
  EXPECT_EQ(sqlite3_next_stmt(db, nullptr), nullptr);
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
}

TEST(LiteralShape, TakesOutOnlyLiteralsThatBindAsTheyStand) {
  const std::pair<const char*, const char*> shaped[] = {
      {"SELECT strname FROM t WHERE lid=5", "SELECT strname FROM t WHERE lid=?1"},
      {"SELECT * FROM t WHERE s = 'O''Neil' AND n = -3", "SELECT * FROM t WHERE s = ?1 AND n = -?2"},
      {"UPDATE t SET a = 'x' WHERE lid = 3", "UPDATE t SET a = ?1 WHERE lid = ?2"},
      {"INSERT INTO t (a, b) VALUES (7, 'x')", "INSERT INTO t (a, b) VALUES (?1, ?2)"},
      {"SELECT a FROM t WHERE b = 1 LIMIT 10", "SELECT a FROM t WHERE b = ?1 LIMIT ?2"},
      {"SELECT a, b FROM t WHERE c = 1 ORDER BY 2 LIMIT 3", "SELECT a, b FROM t WHERE c = ?1 ORDER BY 2 LIMIT 3"},
      {"SELECT a FROM t WHERE x IN (1, 2) AND y = 4", "SELECT a FROM t WHERE x IN (1, 2) AND y = ?1"},
      {"SELECT \"lid=5\" FROM t /* c = 3 */ WHERE a = 1 -- b = 2\n",
       "SELECT \"lid=5\" FROM t /* c = 3 */ WHERE a = ?1 -- b = 2\n"},
      {"SELECT a FROM t WHERE x = (SELECT MAX(y) FROM u WHERE z = 5)",
       "SELECT a FROM t WHERE x = (SELECT MAX(y) FROM u WHERE z = ?1)"},
      // Select lists name columns; decimals, typed and oversized literals
      // would not bind as the text reads.
      {"SELECT 5, 'x', MAX(lid)+1 FROM t GROUP BY 1", "SELECT 5, 'x', MAX(lid)+1 FROM t GROUP BY 1"},
      {"SELECT a FROM t WHERE p > 1.5 AND q < 2e3", "SELECT a FROM t WHERE p > 1.5 AND q < 2e3"},
      {"SELECT a FROM t WHERE n = 99999999999999999999 AND d = DATE '2024-01-01'",
       "SELECT a FROM t WHERE n = 99999999999999999999 AND d = DATE '2024-01-01'"},
  };
  for (const auto& [sql, expected] : shaped) {
    const std::optional<kvdbal::LiteralShape> shape = kvdbal::ShapeOf(sql, Mark);
    ASSERT_TRUE(shape.has_value()) << sql;
    EXPECT_EQ(shape->text, expected);
    EXPECT_EQ(shape->literals.size(), static_cast<size_t>(std::count(expected, expected + strlen(expected), '?')));
  }
  // Texts not read for sure run as they are.
  for (const char* sql : {"SELECT a FROM t WHERE a = ?1", "SELECT a FROM t WHERE a = :name",
                          "SELECT a FROM t WHERE s = E'\\n'", "SELECT a FROM t WHERE b = 1::int",
                          "SELECT a FROM t WHERE s = 'open", "SELECT a FROM t /* a /* b */ c */",
                          "SELECT 1; SELECT 2", "CREATE TABLE t (a INT DEFAULT 5)", "PRAGMA table_info(t)",
                          "SELECT a FROM t WHERE (b = 1"})
    EXPECT_FALSE(kvdbal::ShapeOf(sql, Mark).has_value()) << sql;
  const auto shape = kvdbal::ShapeOf("SELECT a FROM t WHERE s = 'it''s' AND n = 42", Mark);
  ASSERT_TRUE(shape.has_value());
  EXPECT_EQ(shape->literals[0].text, "it's");
  EXPECT_EQ(shape->literals[1].integer, 42);
}

class StatementCacheTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    if (IsSkipped()) return;
    Exec(std::string("CREATE TABLE c (lid INTEGER PRIMARY KEY, s VARCHAR(40), n INTEGER") +
         (IsSQLite() ? ", mixed)" : ")"));
    Exec("INSERT INTO c (lid, s, n) VALUES (1, 'it''s', -7), (2, 'abc', 5), (3, NULL, 5)");
    if (IsSQLite()) {  // a column without a type holds what it is given
      Exec("UPDATE c SET mixed = 5 WHERE lid = 1");
      Exec("UPDATE c SET mixed = '5' WHERE lid = 2");
      Exec("UPDATE c SET mixed = 5.5 WHERE lid = 3");
    }
    m_cached = Connect();
    m_uncached = Connect("statementcache=0");
  }

  // Everything a caller can see of running sql: the columns' names, each
  // value with its type, or the error's code and message.
  static std::string Seen(CKvDbConnection& connection, const std::string& sql) {
    try {
      CKvDbRowset rs;
      rs.Open(sql.c_str(), &connection, -1, -1, 0);
      std::string seen;
      for (int i = 0; i < rs.GetFieldCount(); ++i) seen += rs.GetField(i)->GetName() + "|";
      for (; !rs.IsEOF(); rs.MoveNext()) {
        seen += "\n";
        for (int i = 0; i < rs.GetFieldCount(); ++i) {
          CComVariant v = rs.GetField(i)->GetValue();
          seen += std::to_string(v.vt) + ":" + (v.vt == VT_NULL ? "" : rs.GetField(i)->GetStringValue()) + "|";
        }
      }
      return seen;
    } catch (const CKvDbException& e) {
      return "error " + std::to_string(static_cast<uint32_t>(e.GetResult())) + " " + e.Message();
    }
  }

  void ExpectSameSeen(const std::string& sql) {
    const std::string uncached = Seen(*m_uncached, sql);
    // Runs that learn the shape, prepare it and reuse it.
    for (int run = 0; run < 3; ++run) EXPECT_EQ(Seen(*m_cached, sql), uncached) << sql << " run " << run;
  }

  std::unique_ptr<CKvDbConnection> m_cached, m_uncached;
};

TEST_P(StatementCacheTest, TrickyTextsSeeWhatTheyWouldSeeUncached) {
  std::vector<std::string> texts = {
      "SELECT s FROM c WHERE lid=2",
      "SELECT s FROM c WHERE lid=3",
      "SELECT s FROM c WHERE lid=99",
      "SELECT lid FROM c WHERE s = 'it''s'",
      "SELECT lid, n FROM c WHERE n = -7",
      "SELECT lid, s FROM c ORDER BY 2",
      "SELECT lid, s FROM c ORDER BY 3",
      "SELECT lid FROM c WHERE n = 5 ORDER BY lid LIMIT 1 OFFSET 1",
      "SELECT \"lid\" FROM c WHERE \"lid\" = 1",
      "SELECT lid FROM c WHERE lid = 1 -- lid = 2",
      "SELECT lid FROM c WHERE lid IN (1, 2, 3) ORDER BY lid",
      "SELECT COUNT(*) FROM c WHERE s LIKE 'a%'",
      "SELECT 5, 'x' AS x, lid, lid FROM c WHERE lid = 1",
      "SELECT MAX(lid)+1 FROM c WHERE n > 0",
      "SELECT lid FROM c WHERE nosuchcol = 1",
      "SELECT lid FROM c WHERE lid = 'abc'",
      "SELECT lid FROM c WHERE s = 5",
      "SELECT lid FROM c WHERE n = 2147483648",
  };
  if (IsSQLite()) {
    for (const char* value : {"5", "'5'", "5.5"})
      texts.push_back(std::string("SELECT lid, typeof(mixed) FROM c WHERE mixed = ") + value);
  }
  for (const std::string& sql : texts) ExpectSameSeen(sql);
}

TEST_P(StatementCacheTest, EvictionSchemaChangesAndFailuresKeepResultsRight) {
  // More shapes than room: each is prepared again when it comes back.
  auto small = Connect("statementcache=2");
  for (int round = 0; round < 3; ++round) {
    for (const char* column : {"s", "n", "lid"}) {
      const std::string sql = std::string("SELECT ") + column + " FROM c WHERE lid = " + std::to_string(round + 1);
      EXPECT_EQ(Seen(*small, sql), Seen(*m_uncached, sql));
    }
  }

  // Another connection adds a column between runs of one kept shape; on
  // PostgreSQL the kept statement's row changes, outside a transaction and
  // inside one (which that change fails once).
  ExpectSameSeen("SELECT * FROM c WHERE lid = 1");
  Exec("ALTER TABLE c ADD COLUMN extra INTEGER DEFAULT 9");
  const std::string after = Seen(*m_cached, "SELECT * FROM c WHERE lid = 2");
  EXPECT_NE(after.find("extra|"), std::string::npos) << after;
  EXPECT_EQ(after, Seen(*m_uncached, "SELECT * FROM c WHERE lid = 2"));
  Exec("ALTER TABLE c ADD COLUMN more INTEGER DEFAULT 8");
  m_cached->BeginTrans();
  const std::string inTransaction = Seen(*m_cached, "SELECT * FROM c WHERE lid = 3");
  m_cached->RollbackTrans();
  if (inTransaction.find("error") != std::string::npos) {
    EXPECT_TRUE(IsPostgres()) << inTransaction;
  }
  EXPECT_EQ(Seen(*m_cached, "SELECT * FROM c WHERE lid = 3"), Seen(*m_uncached, "SELECT * FROM c WHERE lid = 3"));
  if (IsPostgres()) {  // the stale statement is gone, its successor alone is kept
    EXPECT_EQ(Seen(*m_cached, "SELECT COUNT(*) FROM pg_prepared_statements WHERE statement LIKE '%c WHERE lid = $1%'"),
              "count|\n3:1|");
  }

  // A kept statement that fails stays usable, and fails as the text would.
  m_cached->Execute("INSERT INTO c (lid, s) VALUES (10, 'ten')", nullptr, 1);
  const std::string again = "INSERT INTO c (lid, s) VALUES (10, 'again')";
  EXPECT_EQ(EXPECT_KVDB_ERROR(m_cached->Execute(again.c_str(), nullptr, 1), KVDB_E_COLLISION_DUPKEY),
            EXPECT_KVDB_ERROR(m_uncached->Execute(again.c_str(), nullptr, 1), KVDB_E_COLLISION_DUPKEY));
  long affected = 0;
  m_cached->Execute("INSERT INTO c (lid, s) VALUES (11, 'eleven')", &affected, 1);
  EXPECT_EQ(affected, 1);
  EXPECT_EQ(QueryString("SELECT s FROM c WHERE lid = 11"), "eleven");

  EXPECT_KVDB_ERROR(Connect("statementcache=-1"), KVDB_E_CONNECTION);
}

// The rows the layer writes itself (INSERT and UPDATE with parameters) are
// kept too; a table changed or made anew under a kept statement is written
// right, and a failure reads as it does without the cache.
TEST_P(StatementCacheTest, RowsWrittenAgainAndAgainStayRightAcrossSchemaChanges) {
  const auto write = [](CKvDbConnection& connection, LONG lid, const char* text) {
    CKvDbRowset rs;
    rs.Open("SELECT * FROM c WHERE lid = -1", &connection, 0, 2, 0);
    rs.AddNew();
    rs.GetField("lid")->SetValue(CComVariant(lid));
    rs.GetField("s")->SetValue(CComVariant(std::string_view(text)));
    rs.Update();
  };
  for (LONG lid = 10; lid < 16; ++lid) write(*m_cached, lid, "kept");
  EXPECT_EQ(EXPECT_KVDB_ERROR(write(*m_cached, 10, "again"), KVDB_E_COLLISION_DUPKEY),
            EXPECT_KVDB_ERROR(write(*m_uncached, 10, "again"), KVDB_E_COLLISION_DUPKEY));
  Exec("ALTER TABLE c ADD COLUMN extra INTEGER DEFAULT 9");
  write(*m_cached, 16, "after alter");
  EXPECT_EQ(QueryLong("SELECT extra FROM c WHERE lid = 16"), 9);
  Exec("DROP TABLE c");
  Exec("CREATE TABLE c (s VARCHAR(40), lid INTEGER PRIMARY KEY)");
  write(*m_cached, 17, "made anew");
  EXPECT_EQ(QueryString("SELECT s FROM c WHERE lid = 17"), "made anew");
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM c"), 1);
}

KV_ON_BOTH_ENGINES(StatementCacheTest);

}  // namespace
