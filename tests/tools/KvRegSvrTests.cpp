// kvregsvr run as its own process on the built module: exit codes, messages
// and the registry it writes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "KvHostProcess.h"
#include "platform/com/ObjBase.h"
#include "platform/com/Registry.h"

#if defined(KV_REGSVR_PATH) && defined(KV_MODULE_PATH)

namespace {

class KvRegSvrTest : public ::testing::Test {
 protected:
  // This process reads the same file the tool writes.
  void SetUp() override { KvRegistryUseFile(m_ws.RegistryPath()); }
  void TearDown() override { KvRegistryUseFile(""); }

  static bool Registered() {
    std::string clsid;
    return SUCCEEDED(KvRegQueryValue("KvHtmlDbTools.KvDataPump\\CLSID", "", &clsid)) &&
           KvRegKeyExists("CLSID\\" + clsid + "\\InprocServer32") &&
           KvRegKeyExists("KvHtmlDbTools.KvDRPump.1");
  }

  KvHostWorkspace m_ws;
};

TEST_F(KvRegSvrTest, RegistersAndUnregistersTheModule) {
  KvHostRun run = m_ws.Run({"--registry", m_ws.RegistryPath(), KV_MODULE_PATH}, {}, KV_REGSVR_PATH);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Registered());
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"KvHtmlDbTools.KvDRPump", &clsid), S_OK);

  // Without the option, KVCOM_REGISTRY names the registry.
  run = m_ws.Run({"-u", KV_MODULE_PATH}, {}, KV_REGSVR_PATH);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(Registered());
  EXPECT_TRUE(KvRegKeyExists("CLSID"));
}

}  // namespace

#endif
