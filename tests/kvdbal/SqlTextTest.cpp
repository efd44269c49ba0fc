// Which statements name one table that rows can be written to.
#include <gtest/gtest.h>

#include "platform/kvdbal/SqlText.h"

namespace {

TEST(SqlTextTest, FindsTheOneTableOfASelect) {
  using kvdbal::SingleTableOf;
  EXPECT_EQ(SingleTableOf("SELECT * FROM krorder WHERE lid=5"), "krorder");
  EXPECT_EQ(SingleTableOf("select * from krorder_l where lparentid=1 and llcid=1031"), "krorder_l");
  EXPECT_EQ(SingleTableOf("SELECT a, (SELECT MAX(b) FROM y) FROM x t ORDER BY a"), "x");
  EXPECT_EQ(SingleTableOf("SELECT * FROM s.t AS u"), "s.t");
  EXPECT_EQ(SingleTableOf("SELECT 'a FROM b, c' AS k FROM t"), "t");
  EXPECT_EQ(SingleTableOf("SELECT * FROM a, b"), "");
  EXPECT_EQ(SingleTableOf("SELECT * FROM a JOIN b ON a.x = b.x"), "");
  EXPECT_EQ(SingleTableOf("SELECT * FROM a LEFT OUTER JOIN b ON a.x = b.x"), "");
  EXPECT_EQ(SingleTableOf("SELECT * FROM (SELECT * FROM a) q"), "");
  EXPECT_EQ(SingleTableOf("SELECT x FROM a UNION SELECT x FROM b"), "");
  EXPECT_EQ(SingleTableOf("DELETE FROM a"), "");
  EXPECT_EQ(SingleTableOf("SELECT 1"), "");
}

// A schema change anywhere in a text of several statements makes what is
// known about tables stale; words inside quotes change nothing.
TEST(SqlTextTest, ASchemaChangeIsSeenInAnyStatementOfTheText) {
  using kvdbal::ChangesSchema;
  EXPECT_TRUE(ChangesSchema("  create table t (a)"));
  EXPECT_TRUE(ChangesSchema("INSERT INTO t VALUES (1);\n DROP TABLE u"));
  EXPECT_FALSE(ChangesSchema("UPDATE t SET note = 'DROP TABLE u; ALTER'; SELECT 1"));
  EXPECT_FALSE(ChangesSchema("   "));
}

}  // namespace
