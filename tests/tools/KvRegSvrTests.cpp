// kvregsvr run as its own process on the built module: exit codes, messages
// and the registry it writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/com/ObjBase.h"
#include "platform/com/Registry.h"
#include "tests/fixture/TempDir.h"

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
  // This process reads the same file the tool writes.
  void SetUp() override { setenv("KVCOM_REGISTRY", m_registry.c_str(), 1); }
  void TearDown() override { unsetenv("KVCOM_REGISTRY"); }

  static bool Registered() {
    std::string clsid;
    return SUCCEEDED(KvRegQueryValue("KvHtmlDbTools.KvDataPump\\CLSID", "", &clsid)) &&
           KvRegKeyExists("CLSID\\" + clsid + "\\InprocServer32") &&
           KvRegKeyExists("KvHtmlDbTools.KvDRPump.1");
  }

  TempDir m_tmp;
  const std::string m_registry = m_tmp / "registry";
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

}  // namespace

#endif
