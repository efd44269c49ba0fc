// kvhost processes that fail, or load something unexpected, and must say
// why: database open failures with the engine's reason, a failed component
// call with its HRESULT and the last line it traced, a registry entry that
// leads to another module.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KvHostProcess.h"
#include "tests/fixture/TestDatabase.h"

#if defined(KVHOST_COMPONENT_MODULE) && defined(KV_REGSVR_PATH)

namespace fs = std::filesystem;

namespace {

class KvHostErrors : public ::testing::Test {
 protected:
  KvHostRun RunWithDb(const std::string& url) {
    return m_ws.Run({"--db", url, "--base", m_ws.Dir(), m_ws.Write("page.js", "Response.Write('ran');")});
  }
  void ExpectOpenFailure(const std::string& url, const std::vector<std::string>& reasons) {
    KvHostRun run = RunWithDb(url);
    EXPECT_EQ(run.status, 1) << url;
    EXPECT_EQ(run.out, "") << url;
    EXPECT_NE(run.err.find("kvhost: cannot open the database " + url + ": "), std::string::npos) << run.err;
    for (const std::string& reason : reasons) EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Unspecified error"), std::string::npos) << run.err;
  }

  KvHostWorkspace m_ws;
};

TEST_F(KvHostErrors, SqliteOpenFailuresNameTheirCauseAndCreateNothing) {
  const std::string missing = m_ws.Dir() + "/typo.db";
  ExpectOpenFailure("sqlite:" + missing, {"the file does not exist", "?mode=rwc"});
  EXPECT_FALSE(fs::exists(missing)) << "a mistyped path must not become an empty database";

  ExpectOpenFailure("sqlite:" + m_ws.Dir() + "/nodir/x.db?mode=rwc",
                    {"No such file or directory", "the directory " + m_ws.Dir() + "/nodir does not exist"});
  ExpectOpenFailure("sqlite:" + m_ws.Dir(), {"Is a directory"});
  ExpectOpenFailure("sqlite:" + missing + "?mode=rwx", {"mode must be rw or rwc, not 'rwx'"});
  ExpectOpenFailure("sqlite:" + missing + "?busytimeout=soon", {"busytimeout needs a number, not 'soon'"});
  ExpectOpenFailure("sqlite:" + missing + "?colour=red", {"unknown connection option 'colour'"});
  ExpectOpenFailure("nosuchengine:x", {"must begin with sqlite: or postgresql://"});

  // Asked for, the file is made (and given the demo application).
  KvHostRun made = RunWithDb("sqlite:" + missing + "?mode=rwc");
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(fs::exists(missing));
  EXPECT_EQ(RunWithDb("sqlite:" + missing).status, 0) << "an existing file opens without the flag";
}

TEST_F(KvHostErrors, PostgresOpenFailuresCarryTheServersReason) {
  // Nothing listens on port 1 of the loopback address.
  ExpectOpenFailure("postgresql://127.0.0.1:1/kvtest?connect_timeout=5", {"Connection refused"});
  ExpectOpenFailure("postgresql://127.0.0.1:1/kvtest?sslmode=sometimes", {"sslmode", "sometimes"});
  const char* server = std::getenv("KV_TEST_PG");
  if (!server || !*server) GTEST_SKIP() << "KV_TEST_PG is not set";
  std::string url = server;
  const size_t user = url.find("user=postgres");
  ASSERT_NE(user, std::string::npos) << url;
  url.replace(user, 13, "user=nosuchrole");
  ExpectOpenFailure(url, {"nosuchrole", "does not exist"});
}

TEST_F(KvHostErrors, AFailedComponentCallCarriesItsCodeAndLastTraceLine) {
  std::unique_ptr<TestDatabase> db = TestDatabase::Create();
  const std::string page = m_ws.Write("bad.js",
                                      "var p = Server.CreateObject('KvHtmlDbTools.KvDRPump');\n"
                                      "p.Init(Session, 'SELECT nosuchcol FROM krorder', 'lid', 0, false);\n");
  KvHostRun run = m_ws.Run({"--db", db->ConnectionString(), "--base", db->BasePath(), page});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("bad.js:2: Error: KvHtmlDbTools.KvDRPump.Init: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("(0x80040E14); trace: no such column: nosuchcol"), std::string::npos) << run.err;

  // With --trace the whole report goes to the file as well, unchanged.
  const std::string trace = m_ws.Dir() + "/trace.txt";
  KvHostRun traced = m_ws.Run({"--db", db->ConnectionString(), "--base", db->BasePath(), "--trace", trace, page});
  EXPECT_EQ(traced.status, 1);
  EXPECT_NE(traced.err.find("trace: no such column: nosuchcol"), std::string::npos) << traced.err;
  const std::string written = m_ws.Read(trace);
  EXPECT_NE(written.find("Message: no such column: nosuchcol"), std::string::npos) << written;
  EXPECT_NE(written.find("Returning: 0X80040E14"), std::string::npos) << written;
}

}  // namespace

#endif
