// The demo pages on the demo database that kvhost makes on first use, the
// way README's main-job command runs them.
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "KvHostProcess.h"
#include "tests/fixture/TestDatabase.h"

namespace fs = std::filesystem;

namespace {

std::string ExamplePage(const std::string& name) { return std::string(KVHOST_EXAMPLES_DIR) + "/" + name; }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(ExamplePages, TheMainDemoRunsOnTheDemoDatabaseMadeOnFirstUse) {
  KvHostWorkspace ws;
  const std::map<std::string, std::string> env{{"KVHOST_DATA_DIR", ws.Dir() + "/data"}};
  KvHostRun first = ws.Run({ExamplePage("demo.js")}, env);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(fs::exists(ws.Dir() + "/data/demo.db"));
  EXPECT_TRUE(fs::exists(ws.Dir() + "/data/app/files/a1-delivery-note.txt"));
  for (const char* expected :
       {"read  order 1: no=A1 color=red (de: rot, en: red) state=open amount=3",
        "saved order 1: no=A1 color=red (de: rot, en: red) state=closed amount=4",
        "en=\"First order, edited\"", "added order 25: no=C1 color=blue|red (de: blau|rot, en: blue|red)",
        "title de=\"Neue Bestellung\" en=\"New order\"", "paged (de): 25 orders, page 1 of 9:",
        "  A1 (lid 1): rot, geschlossen, amount 4", "paged (en): 25 orders, page 1 of 9:",
        "  A1 (lid 1): red, closed, amount 4", "deleted order 25: no=\"\""})
    EXPECT_TRUE(Contains(first.out, expected)) << expected << "\n" << first.out;

  // The demo leaves the database as it found it, but for the edit it shows.
  KvHostRun second = ws.Run({ExamplePage("demo.js")}, env);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(Contains(second.out, "saved order 1: no=A1 color=red (de: rot, en: red) state=open amount=5"))
      << second.out;
  EXPECT_TRUE(Contains(second.out, "added order 25:")) << second.out;
}

TEST(ExamplePages, EveryOtherPageRunsOnTheDemoDatabase) {
  KvHostWorkspace ws;
  const std::map<std::string, std::string> env{{"KVHOST_DATA_DIR", ws.Dir() + "/data"}};
  const std::vector<std::pair<std::string, std::vector<std::string>>> pages = {
      {"paged-list.js",
       {"Deutsch: 24 orders on 3 pages", "  page 2: D4 rot/offen 0.99; D3 blau|rot/geschlossen 45.50;",
        "C1 rot/offen 12.90; B2 green/geschlossen 1.99\n", "English: 24 orders on 3 pages",
        "  page 3: B1 blue/open 80.00; A3 red|blue/open|closed 4.25; A2 blue/closed 250.00; A1 red/open 19.50\n"}},
      {"cascade-delete.js",
       {"before: order 1, its language rows 1, lines 2, line language rows 1, notes 1",
        "refused: ", "(number -2147467263)",
        "after : order 0, its language rows 0, lines 0, line language rows 0, notes 0"}},
      {"clone-with-files.js",
       {"source: order 1 no=A1, file 1 at files/a1-delivery-note.txt, lines: pencil x10 (lid 1), paper x500 (lid 2)",
        "clone:  order 25 no=A1, file 2 at files/", "lines: pencil x10 (lid 4), paper x500 (lid 5)",
        "removed the clone: gone"}},
      {"queries.js",
       {"cursor: A1 colour rot / red, state open", "cursor: A3 colour rot|blau / red|blue, state open|closed",
        "cursor: last row has lid 3", "lookup: order 2 is A2, its English title \"Second order\"",
        "join: SELECT DISTINCT krorder.lid as lid", "join: A1 \"Erste Bestellung\""}},
  };
  for (const auto& [page, expectations] : pages) {
    KvHostRun run = ws.Run({ExamplePage(page)}, env);
    EXPECT_EQ(run.status, 0) << page << ": " << run.err;
    for (const std::string& expected : expectations)
      EXPECT_TRUE(Contains(run.out, expected)) << page << ": " << expected << "\n" << run.out;
  }
  // Clone and cascade delete tidy up after themselves, stored files included.
  EXPECT_EQ(std::distance(fs::directory_iterator(ws.Dir() + "/data/app/files"), fs::directory_iterator{}), 1);
}
