// kvregsvr run as its own process on the built module: exit codes, messages
// and the registry it writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/com/ObjBase.h"
#include "platform/com/Registry.h"

#if defined(KV_REGSVR_PATH) && defined(KV_MODULE_PATH)

namespace {

struct ToolRun {
  int exitCode;
  std::string output;  // stdout and stderr
};

ToolRun RunRegSvr(const std::string& arguments, const std::string& environment = "") {
  const std::string command = environment + " '" KV_REGSVR_PATH "' " + arguments + " 2>&1";
  ToolRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.output.append(buf, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class KvRegSvrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = getenv("KV_TEST_WORKDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/kvregsvr-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_registry = m_dir + "/registry";
    // This process reads the same file the tool writes.
    setenv("KVCOM_REGISTRY", m_registry.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("KVCOM_REGISTRY");
    ASSERT_EQ(system(("rm -rf '" + m_dir + "'").c_str()), 0);
  }

  static bool Registered() {
    std::string clsid;
    return SUCCEEDED(KvRegQueryValue("KvHtmlDbTools.KvDataPump\\CLSID", "", &clsid)) &&
           KvRegKeyExists("CLSID\\" + clsid + "\\InprocServer32") &&
           KvRegKeyExists("KvHtmlDbTools.KvDRPump.1");
  }

  std::string m_dir;
  std::string m_registry;
};

TEST_F(KvRegSvrTest, RegistersAndUnregistersTheModule) {
  ToolRun run = RunRegSvr("--registry '" + m_registry + "' '" KV_MODULE_PATH "'");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(Registered());
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"KvHtmlDbTools.KvDRPump", &clsid), S_OK);

  // Without the option, KVCOM_REGISTRY names the registry.
  run = RunRegSvr("-u '" KV_MODULE_PATH "'", "KVCOM_REGISTRY='" + m_registry + "'");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_FALSE(Registered());
  EXPECT_TRUE(KvRegKeyExists("CLSID"));
}

TEST_F(KvRegSvrTest, FailuresExplainThemselves) {
  ToolRun run = RunRegSvr("--registry '" + m_registry + "' '" + m_dir + "/missing.so'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("missing.so"), std::string::npos) << run.output;

  // A library that is no component server.
  run = RunRegSvr("--registry '" + m_registry + "' '" KV_PLAIN_LIBRARY "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("DllRegisterServer"), std::string::npos) << run.output;

  // A registry that cannot be written.
  { FILE* f = fopen((m_dir + "/plain").c_str(), "w"); fclose(f); }
  run = RunRegSvr("--registry '" + m_dir + "/plain/registry' '" KV_MODULE_PATH "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("failed with 0x80040151"), std::string::npos) << run.output;

  EXPECT_EQ(RunRegSvr("").exitCode, 2);
  run = RunRegSvr("--frobnicate '" KV_MODULE_PATH "'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("--frobnicate"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("kvregsvr --help"), std::string::npos) << run.output;
  EXPECT_EQ(RunRegSvr("--list '" KV_MODULE_PATH "'").exitCode, 2);
  EXPECT_EQ(RunRegSvr("--system --registry x '" KV_MODULE_PATH "'").exitCode, 2);
  EXPECT_FALSE(Registered());
}

TEST_F(KvRegSvrTest, HelpAndVersionGoToStandardOutput) {
  ToolRun help = RunRegSvr("--help 2>/dev/null");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--registry", "--system", "--list", "--unregister", "Exit status"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option << "\n" << help.output;
  ToolRun version = RunRegSvr("--version 2>/dev/null");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output, "kvregsvr 1.0\n");
}

TEST_F(KvRegSvrTest, ListShowsEachRegistryInLookupOrderWithItsModules) {
  ToolRun empty = RunRegSvr("--list --registry '" + m_registry + "'");
  EXPECT_EQ(empty.exitCode, 0) << empty.output;
  EXPECT_EQ(empty.output.find("registry of KVCOM_REGISTRY " + m_registry + " (no such file)\n  (nothing registered)\n"), 0u)
      << empty.output;
  EXPECT_NE(empty.output.find("system registry "), std::string::npos) << empty.output;

  ASSERT_EQ(RunRegSvr("--registry '" + m_registry + "' '" KV_MODULE_PATH "'").exitCode, 0);
  ToolRun listed = RunRegSvr("--list", "KVCOM_REGISTRY='" + m_registry + "'");
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_NE(listed.output.find("registry of KVCOM_REGISTRY " + m_registry + ":\n"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("  KvHtmlDbTools.KvDataPump {4F1C2E01-7A3B-4C5D-8E9F-102132435401} "), std::string::npos)
      << listed.output;
  EXPECT_NE(listed.output.find("libkvhtmldbtools10.so\n"), std::string::npos) << listed.output;

  // An entry whose module is gone says so.
  std::string text;
  {
    FILE* f = fopen(m_registry.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
  }
  const std::string module = KV_MODULE_PATH;
  for (size_t at = text.find(module); at != std::string::npos; at = text.find(module, at))
    text.replace(at, module.size(), m_dir + "/gone.so");
  {
    FILE* f = fopen(m_registry.c_str(), "w");
    fputs(text.c_str(), f);
    fclose(f);
  }
  ToolRun stale = RunRegSvr("--list --registry '" + m_registry + "'");
  EXPECT_NE(stale.output.find(m_dir + "/gone.so (missing)"), std::string::npos) << stale.output;
}

}  // namespace

#endif
