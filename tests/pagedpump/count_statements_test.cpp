// The count statements of the paged pump for the shapes of query that page
// authors write; the database tests show that they count right.
#include <gtest/gtest.h>

#include "platform/kvdbal/KvDbal.h"
#include "src/pagedpump/CountStatements.h"

namespace {

TEST(CountStatementsTest, EachQueryShapeGetsItsCount) {
  const struct {
    const char* query;
    const char* count;
  } cases[] = {
      // The common shapes keep their statements to the byte.
      {"SELECT lid, strname FROM krorder ORDER BY strname", "SELECT COUNT(*) AS lcount FROM krorder "},
      {"SELECT DISTINCT strcity FROM kraddr ORDER BY strcity",
       "SELECT COUNT(*) AS lcount FROM (SELECT DISTINCT strcity FROM kraddr ) tmptbl99"},
      {"SELECT * FROM t WHERE s='x order by y'", "SELECT COUNT(*) AS lcount FROM t WHERE s='x order by y'"},
      {"SELECT * FROM t WHERE s='x' ORDER BY y", "SELECT COUNT(*) AS lcount FROM t WHERE s='x' "},
      {"SELECT strno FROM krorder GROUP BY strno",
       "SELECT COUNT(*) AS lcount FROM (SELECT strno FROM krorder GROUP BY strno) tmptbl99"},
      {"SELECT lid\nFROM krorder", ""},
      {"SELECT 1", ""},
      // Keywords are whole words: neither an alias nor a column beginning
      // with one counts.
      {"SELECT dtorder AS fromdate FROM krorder", "SELECT COUNT(*) AS lcount FROM krorder"},
      {"SELECT strdistinctive FROM t ORDER BY byx", "SELECT COUNT(*) AS lcount FROM t "},
      // Any white space parts the words and ends the clause before them.
      {"SELECT lid FROM krorder\tORDER  BY\tlid", "SELECT COUNT(*) AS lcount FROM krorder\t"},
      {"SELECT strno FROM krorder GROUP\nBY strno",
       "SELECT COUNT(*) AS lcount FROM (SELECT strno FROM krorder GROUP\nBY strno) tmptbl99"},
      // What stands in parentheses, quotes or comments is not a clause of
      // the query itself.
      {"SELECT * FROM (SELECT lid FROM krorder ORDER BY lid) s",
       "SELECT COUNT(*) AS lcount FROM (SELECT lid FROM krorder ORDER BY lid) s"},
      {"SELECT (SELECT MAX(lid) FROM krorder) AS m FROM krorder o ORDER BY m",
       "SELECT COUNT(*) AS lcount FROM krorder o "},
      {"SELECT 'a from b' AS s FROM t", "SELECT COUNT(*) AS lcount FROM t"},
      {"SELECT lid FROM t ORDER BY CASE WHEN s='a' THEN 1 END", "SELECT COUNT(*) AS lcount FROM t "},
      {"SELECT lid FROM t -- ORDER BY lid\n", "SELECT COUNT(*) AS lcount FROM t -- ORDER BY lid\n"},
      {"SELECT \"order by\" FROM t", "SELECT COUNT(*) AS lcount FROM t"},
      {"SELECT COUNT(DISTINCT strno) AS n FROM krorder",
       "SELECT COUNT(*) AS lcount FROM (SELECT COUNT(DISTINCT strno) AS n FROM krorder) tmptbl99"},
      // A row limit decides the number of rows: it stays, without the sort
      // clause before it, and the query is counted as a whole.
      {"SELECT lid FROM krorder ORDER BY lid LIMIT 2 OFFSET 1",
       "SELECT COUNT(*) AS lcount FROM (SELECT lid FROM krorder LIMIT 2 OFFSET 1) tmptbl99"},
      {"SELECT lid FROM krorder UNION SELECT lid FROM krorderline ORDER BY 1",
       "SELECT COUNT(*) AS lcount FROM (SELECT lid FROM krorder UNION SELECT lid FROM krorderline ) tmptbl99"},
  };
  for (const auto& c : cases) {
    const CountStatements statements = CountStatementsFor(c.query, kvDbServerSQLite);
    EXPECT_EQ(statements.count, c.count) << c.query;
    EXPECT_EQ(statements.fillTemporaryTable, "") << c.query;
  }

  const CountStatements temp =
      CountStatementsFor("SELECT DISTINCT strcity FROM kraddr ORDER BY strcity", kvDbServerTempInto);
  EXPECT_EQ(temp.fillTemporaryTable, "SELECT DISTINCT strcity FROM kraddr  INTO TEMP tmptbl100");
  EXPECT_EQ(temp.count, "SELECT COUNT(*) AS lcount FROM tmptbl100");
}

}  // namespace
