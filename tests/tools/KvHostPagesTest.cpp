// kvhost end to end: real kvhost processes run pages against the real
// component module on a fresh SQLite database of the demo application.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KvHostProcess.h"
#include "tests/fixture/TestDatabase.h"

namespace fs = std::filesystem;

namespace {

// Orders 1 and 3, the stored file of order 3 and its upload row.
const char* const kSeed[] = {
    "INSERT INTO krorder (lid, lparentid, strno) VALUES (1, 0, 'A1')",
    "INSERT INTO krorder (lid, lparentid, strno, lfile) VALUES (3, 1, 'A3', 2)",
    "INSERT INTO kruploadfile (lid, strfilename, strphysicalpath, dtupload, luserid, strurl, lappid, "
    "ltemplateid, strcontenttype) VALUES (2, 'a3.txt', 'files\\a3.txt', '2024-03-03 11:00:00', 2, "
    "'files/a3.txt', 1, 0, 'text/plain')",
};

class KvHostPages : public ::testing::Test {
 protected:
  void SetUp() override {
    m_db = TestDatabase::Create();
    for (const char* sql : kSeed) m_db->Exec(sql);
    m_db->WriteFile("files/a3.txt", "stored file of A3");
  }

  // Runs the page with the test database and base path, and extra options.
  KvHostRun RunPage(const std::string& source, std::vector<std::string> options = {}) {
    std::string page = m_ws.Write("page.js", source);
    std::vector<std::string> args{"--db", m_db->ConnectionString(), "--base", m_db->BasePath()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(page);
    return m_ws.Run(args);
  }

  std::unique_ptr<TestDatabase> m_db;
  KvHostWorkspace m_ws;
};

// Page helper: out(a, b, ...) writes one line of |-separated values.
const std::string kOut = "function out() { Response.Write([].slice.call(arguments).join('|') + '\\n'); }\n";

}  // namespace

TEST_F(KvHostPages, FailingCallsThrowErrorsWhoseNumberIsTheSignedHresult) {
  KvHostRun run = RunPage(kOut + R"(
    function number(f) { try { f(); return "no error"; } catch (e) { return e.number; } }
    var d = Server.CreateObject("KvHtmlDbTools.KvDRPump");
    var p = Server.CreateObject("KvHtmlDbTools.KvDataPump");
    p.Init(Session, 100);
    p.MoveTo(1);
    out(number(function () { d.Init(Session, "SELECT lid\nFROM krorder", "", 0, false); }),
        number(function () { d.Init(null, "SELECT lid FROM krorder", "", 0, false); }),
        number(function () { p.CascadeDelete("", "", false, true); }),
        number(function () { p.Frobnicate(); }),
        number(function () { d.Init(Session, "SELECT lid FROM krorder", "", 0, false); d.Value("nosuch"); }),
        number(function () { p.CascadeDelete("", "", false, false); }));
  )");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-2147024809|-2147467259|-2147467263|-2147352570|-2146825023|no error\n");
}

// A page's objects remember the ids of the members it named, and which of
// them are methods, each object its own: IsEOF is member 13 of the record
// pump and 4 of the paged one.
TEST_F(KvHostPages, AMemberNameReachesTheMemberOfTheObjectItIsAskedOf) {
  KvHostRun run = RunPage(kOut + R"(
    var p = Server.CreateObject("KvHtmlDbTools.KvDataPump");
    var d = Server.CreateObject("KvHtmlDbTools.KvDRPump");
    p.Init(Session, 100);
    p.MoveTo(1);
    d.Init(Session, "SELECT lid, strno FROM krorder WHERE lid > 100", "ORDER BY lid", 0, false);
    out(p.IsEOF, d.IsEOF, p.IsEOF, d.IsEOF, p.ValueByFieldName("strno", ""));
    d.MoveFirst();
    out(typeof d.MoveFirst, typeof p.MoveTo, p.IsEOF, d.IsEOF, p.ValueByFieldName("strno", ""));
  )");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "true|1|true|1|A1\nfunction|function|true|1|A1\n");
}

TEST_F(KvHostPages, BaseOptionIsTheApplicationPathAndTheFileRoot) {
  const std::string page = R"(
    var p = Server.CreateObject("KvHtmlDbTools.KvDataPump");
    p.Init(Session, 100);
    p.ClearFileField(3, "lfile");
  )";
  // Under another base path the stored file is not found: nothing changes.
  const std::string elsewhere = m_ws.Dir() + "/elsewhere";
  fs::create_directories(elsewhere);
  const std::string traceFile = m_ws.Dir() + "/trace.txt";
  KvHostRun wrongBase = m_ws.Run({"--db", m_db->ConnectionString(), "--base", elsewhere, "--trace", traceFile,
                                  m_ws.Write("clear.js", page)});
  ASSERT_EQ(wrongBase.status, 0) << wrongBase.err;
  EXPECT_NE(m_ws.Read(traceFile).find("File Warning"), std::string::npos);
  EXPECT_EQ(m_db->Count("kruploadfile", "lid=2"), 1);
  EXPECT_TRUE(m_db->FileExists("files/a3.txt"));

  KvHostRun rightBase = RunPage(page);
  ASSERT_EQ(rightBase.status, 0) << rightBase.err;
  EXPECT_EQ(m_db->Count("kruploadfile", "lid=2"), 0);
  EXPECT_FALSE(m_db->FileExists("files/a3.txt"));

  KvHostRun noSuchBase = m_ws.Run({"--db", m_db->ConnectionString(), "--base", m_ws.Dir() + "/nosuch",
                                   m_ws.Write("clear.js", page)});
  EXPECT_EQ(noSuchBase.status, 2);
  EXPECT_NE(noSuchBase.err.find("does not exist"), std::string::npos) << noSuchBase.err;
}

TEST_F(KvHostPages, TheComponentIsRegisteredInTheChosenRegistryWhenMissing) {
  const std::string page = m_ws.Write("create.js", "Server.CreateObject('KvHtmlDbTools.KvDRPump');");
  const std::string chosen = m_ws.Dir() + "/chosen-registry";
  for (int run = 0; run < 2; ++run) {
    KvHostRun result = m_ws.Run({"--db", m_db->ConnectionString(), "--registry", chosen, page});
    ASSERT_EQ(result.status, 0) << result.err;
  }
  const std::string registry = m_ws.Read(chosen);
  EXPECT_NE(registry.find("KvHtmlDbTools.KvDataPump"), std::string::npos);
  EXPECT_NE(registry.find(KVHOST_COMPONENT_MODULE), std::string::npos);
  EXPECT_FALSE(fs::exists(m_ws.RegistryPath())) << "only the chosen registry is written";

  // Without --registry the environment's registry is the one.
  KvHostRun byEnvironment = m_ws.Run({"--db", m_db->ConnectionString(), page});
  ASSERT_EQ(byEnvironment.status, 0) << byEnvironment.err;
  EXPECT_TRUE(fs::exists(m_ws.RegistryPath()));
}

TEST_F(KvHostPages, BadPagesEndWithStatusOneAndSayWhy) {
  struct Case {
    std::string source;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"var x = ;", "SyntaxError"},
      {"Server.CreateObject('Nope.Thing');", "no class is registered for the ProgID 'Nope.Thing'"},
      {"var p = Server.CreateObject('KvHtmlDbTools.KvDataPump');\np.Frobnicate(1);",
       "page.js:2: Error: KvHtmlDbTools.KvDataPump has no method or property named 'Frobnicate'"},
      // A name beyond ASCII (here beyond the basic plane too) reads as written.
      {"var p = Server.CreateObject('KvHtmlDbTools.KvDataPump');\np.Gr\u00f6\u00dfe\U0001D538(1);",
       "has no method or property named 'Gr\u00f6\u00dfe\U0001D538'"},
      {"Response.Write('partial'); throw new Error('page gave up');", "page.js:1: Error: page gave up"},
  };
  for (const Case& c : cases) {
    KvHostRun run = RunPage(c.source);
    EXPECT_EQ(run.status, 1) << c.source;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(RunPage("Response.Write('partial'); throw 1;").out, "partial");
}

TEST_F(KvHostPages, BadOptionsAndUnreadablePagesEndWithStatusTwo) {
  const std::string page = m_ws.Write("fine.js", "Response.Write('ran');");
  const std::vector<std::vector<std::string>> cases = {
      {"--frobnicate", page},
      {"--db", m_db->ConnectionString(), m_ws.Dir() + "/missing.js"},
      {"--db", m_db->ConnectionString(), m_ws.Dir()},
      {},
  };
  for (const auto& args : cases) {
    KvHostRun run = m_ws.Run(args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("kvhost: "), std::string::npos) << run.err;
  }
  KvHostRun help = m_ws.Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: kvhost"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("serve"), std::string::npos);
}
