// The splitting of the SQL files kvhost runs before a page.
#include <gtest/gtest.h>

#include "setup/SqlScript.h"

TEST(SqlScript, SplitsAtSemicolonsOutsideQuotesAndComments) {
  EXPECT_EQ(SplitSqlStatements("-- set-up\n"
                               "INSERT INTO t VALUES (1, 'a;b', 'it''s');\n"
                               "/* two; */ UPDATE t SET s=\"x;y\" WHERE lid=1;;\n"
                               "  DELETE FROM t -- the end; really\n"
                               "-- trailing comment only;\n"),
            (std::vector<std::string>{
                "-- set-up\nINSERT INTO t VALUES (1, 'a;b', 'it''s')",
                "/* two; */ UPDATE t SET s=\"x;y\" WHERE lid=1",
                "DELETE FROM t -- the end; really\n-- trailing comment only;",
            }));
  EXPECT_TRUE(SplitSqlStatements(" \n-- nothing\n").empty());
  EXPECT_EQ(SplitSqlStatements("SELECT 'unterminated;"),
            (std::vector<std::string>{"SELECT 'unterminated;"}));
}
