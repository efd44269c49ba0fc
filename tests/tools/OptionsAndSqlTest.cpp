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

TEST(KvHostOptions, ServeTakesItsOwnOptionsAndTheCommonOnes) {
  const std::string root = ::testing::TempDir();
  ParsedCommandLine parsed = ParseCommandLine(
      {"--trace", "-", "serve", "--root", root, "--port", "0", "--workers", "3", "--db", "sqlite:x.db",
       "--script-timeout", "0.5", "--bind", "0.0.0.0"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const KvHostOptions& o = parsed.options;
  EXPECT_TRUE(o.serve);
  EXPECT_EQ(o.serveOptions.root, root);
  EXPECT_EQ(o.serveOptions.port, 0);
  EXPECT_EQ(o.serveOptions.workers, 3);
  EXPECT_EQ(o.serveOptions.bind, "0.0.0.0");
  EXPECT_DOUBLE_EQ(o.serveOptions.scriptTimeoutSeconds, 0.5);
  EXPECT_EQ(o.dbUrl, "sqlite:x.db");
  EXPECT_EQ(o.traceFile, "-");

  ParsedCommandLine defaults = ParseCommandLine({"serve", "--root", root});
  ASSERT_TRUE(defaults.ok) << defaults.error;
  EXPECT_EQ(defaults.options.serveOptions.port, 8080);
  EXPECT_EQ(defaults.options.serveOptions.bind, "127.0.0.1");
  EXPECT_DOUBLE_EQ(defaults.options.serveOptions.scriptTimeoutSeconds, 30);
}

TEST(KvHostOptions, BadCommandLinesAreRejectedWithAReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no page given"},
      {{"a.js", "b.js"}, "only one page can be run at a time"},
      {{"--frobnicate", "a.js"}, "--frobnicate"},
      {{"a.js", "--db"}, "--db: 1 required TEXT missing"},
      {{"--user", "12x", "a.js"}, "--user: Value 12x not in range"},
      {{"--user", "2147483648", "a.js"}, "--user: Value 2147483648 not in range"},
      {{"--trace=", "a.js"}, ""},
      {{"serve"}, "--root is required"},
      {{"serve", "--root", "/no/such/dir"}, "Directory does not exist"},
      {{"serve", "--root", "/", "--port", "70000"}, "--port"},
      {{"serve", "--root", "/", "a.js"}, "serve runs a site, not a page: a.js"},
  };
  for (const auto& [args, error] : cases) {
    ParsedCommandLine parsed = ParseCommandLine(args);
    EXPECT_FALSE(parsed.ok) << ::testing::PrintToString(args);
    EXPECT_NE(parsed.error.find(error), std::string::npos) << parsed.error;
  }
  EXPECT_TRUE(ParseCommandLine({"--help"}).infoRequested);
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
