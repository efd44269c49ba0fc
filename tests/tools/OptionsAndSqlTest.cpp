// kvhost's command line and the splitting of its SQL files.
#include <gtest/gtest.h>

#include "Options.h"
#include "SqlScript.h"

TEST(KvHostOptions, EveryOptionLandsWhereItBelongs) {
  ParsedCommandLine parsed = ParseCommandLine(
      {"--db", "sqlite:/tmp/x.db", "--sql=a.sql", "--sql", "b.sql", "--user", "-7", "--base", "/srv/app",
       "--invalid", "--trace", "-", "--registry", "reg", "page.js"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const KvHostOptions& o = parsed.options;
  EXPECT_EQ(o.dbUrl, "sqlite:/tmp/x.db");
  EXPECT_EQ(o.sqlFiles, (std::vector<std::string>{"a.sql", "b.sql"}));
  EXPECT_EQ(o.userId, -7);
  EXPECT_EQ(o.basePath, "/srv/app");
  EXPECT_FALSE(o.sessionValid);
  EXPECT_EQ(o.traceFile, "-");
  EXPECT_EQ(o.registryFile, "reg");
  EXPECT_EQ(o.page, "page.js");

  ParsedCommandLine defaults = ParseCommandLine({"--", "-odd-name.js"});
  ASSERT_TRUE(defaults.ok);
  EXPECT_EQ(defaults.options.page, "-odd-name.js");
  EXPECT_EQ(defaults.options.userId, 1);
  EXPECT_TRUE(defaults.options.sessionValid);
  EXPECT_TRUE(defaults.options.dbUrl.empty() && defaults.options.traceFile.empty());
}

TEST(KvHostOptions, BadCommandLinesAreRejectedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no page given"},
      {{"a.js", "b.js"}, "only one page can be run at a time"},
      {{"--frobnicate", "a.js"}, "unknown option --frobnicate"},
      {{"a.js", "--db"}, "option --db needs a value"},
      {{"--user", "12x", "a.js"}, "--user needs a 32-bit integer user id, not '12x'"},
      {{"--user", "2147483648", "a.js"}, "--user needs a 32-bit integer user id, not '2147483648'"},
      {{"--trace=", "a.js"}, "option --trace needs a non-empty value"},
  };
  for (const auto& [args, error] : cases) {
    ParsedCommandLine parsed = ParseCommandLine(args);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.error, error);
  }
  EXPECT_TRUE(ParseCommandLine({"--help"}).helpRequested);
}

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
