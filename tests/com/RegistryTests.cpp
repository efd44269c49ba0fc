// The file-backed class registry: what a transaction writes is what a later
// reader sees; a file that is not a registry is reported and left alone;
// creation says what the registry lacks; the file a process chooses.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/com/Registry.h"
#include "tests/fixture/TempDir.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  // The parent directory is created on first write.
  void SetUp() override { KvRegistryUseFile(m_path); }
  void TearDown() override { KvRegistryUseFile(""); }

  std::string FileText() const { return TempDir::Read(m_path); }

  std::string Query(const std::string& key, const std::string& name = "") {
    std::string v;
    return SUCCEEDED(KvRegQueryValue(key, name, &v)) ? v : "<missing>";
  }

  TempDir m_tmp;
  const std::string m_path = m_tmp / "sub/registry";
};

TEST_F(RegistryTest, CommittedKeysAndValuesReadBackWhateverTheirCaseOrCharacters) {
  EXPECT_FALSE(KvRegKeyExists("CLSID"));  // no file yet: an empty registry
  {
    KvRegistryTransaction tx;
    ASSERT_EQ(tx.Begin(), S_OK);
    ASSERT_EQ(tx.SetValue("My.ProgID", "", "quote \" back\\slash\nnew line ü"), S_OK);
    ASSERT_EQ(tx.SetValue("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Both"), S_OK);
    ASSERT_EQ(tx.CreateKey("CLSID\\{X}\\Programmable"), S_OK);
    ASSERT_EQ(tx.Commit(), S_OK);
  }
  EXPECT_EQ(Query("my.progid"), "quote \" back\\slash\nnew line ü");
  EXPECT_EQ(Query("clsid\\{x}\\inprocserver32", "threadingmodel"), "Both");
  // A key without a default value is there, its default value is not.
  EXPECT_TRUE(KvRegKeyExists("CLSID\\{X}\\Programmable"));
  EXPECT_EQ(Query("CLSID\\{X}\\Programmable"), "<missing>");

  std::vector<std::string> names;
  ASSERT_EQ(KvRegEnumKeys("CLSID\\{X}", &names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"InprocServer32", "Programmable"}));

  // A second transaction starts from what the first wrote and can remove it.
  ASSERT_EQ(KvRegDeleteTree("CLSID\\{x}"), S_OK);
  EXPECT_FALSE(KvRegKeyExists("CLSID\\{X}\\InprocServer32"));
  EXPECT_TRUE(KvRegKeyExists("CLSID"));
  EXPECT_EQ(Query("My.ProgID"), "quote \" back\\slash\nnew line ü");
}

TEST_F(RegistryTest, AFileThatIsNotARegistryIsReportedAndLeftAlone) {
  ASSERT_EQ(KvRegSetValue("Key", "", "value"), S_OK);
  const std::string garbage = "KVCOM REGISTRY 1\n[Key]\n@=\"unterminated\n";
  { std::ofstream(m_path) << garbage; }

  std::string v;
  EXPECT_EQ(KvRegQueryValue("Key", "", &v), REGDB_E_READREGDB);
  KvRegistryTransaction tx;
  EXPECT_EQ(tx.Begin(), REGDB_E_READREGDB);
  EXPECT_EQ(KvRegSetValue("Other", "", "x"), REGDB_E_READREGDB);
  EXPECT_EQ(FileText(), garbage);
}

TEST_F(RegistryTest, CreationReportsWhatTheRegistryLacks) {
  constexpr CLSID kClsid = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  const std::string clsidKey = "CLSID\\" + StringFromGUID(kClsid);
  CLSID found;
  ComPtr<IUnknown> object;

  EXPECT_EQ(CLSIDFromProgID(u"Nobody.Here", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetVoidAddress()),
            REGDB_E_CLASSNOTREG);

  ASSERT_EQ(KvRegSetValue("Broken.ProgID\\CLSID", "", "not a class id"), S_OK);
  EXPECT_EQ(CLSIDFromProgID(u"Broken.ProgID", &found), CO_E_CLASSSTRING);

  ASSERT_EQ(KvRegSetValue("Gone.ProgID\\CLSID", "", StringFromGUID(kClsid)), S_OK);
  ASSERT_EQ(KvRegSetValue(clsidKey + "\\InprocServer32", "", m_tmp / "missing.so"), S_OK);
  ASSERT_EQ(CLSIDFromProgID(u"gone.progid", &found), S_OK);
  EXPECT_EQ(found, kClsid);
  EXPECT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.ReleaseAndGetVoidAddress()),
            CO_E_DLLNOTFOUND);
  EXPECT_FALSE(object);
}

// The file a process chooses comes before KVCOM_REGISTRY, which is how a
// process tells the processes it starts; giving the choice up goes back to it.
TEST_F(RegistryTest, AChosenFileComesBeforeTheEnvironmentUntilItIsGivenUp) {
  const std::string told = m_tmp / "told/registry";
  setenv("KVCOM_REGISTRY", told.c_str(), 1);
  ASSERT_EQ(KvRegSetValue("Chosen.ProgID", "", "chosen"), S_OK);
  KvRegistrySource source = KvRegistrySource::PerUser;
  EXPECT_EQ(KvRegistryFilePath(&source), m_path);
  EXPECT_EQ(source, KvRegistrySource::Chosen);

  KvRegistryUseFile("");
  EXPECT_EQ(KvRegistryFilePath(&source), told);
  EXPECT_EQ(source, KvRegistrySource::Environment);
  EXPECT_EQ(Query("Chosen.ProgID"), "<missing>");
  ASSERT_EQ(KvRegSetValue("Told.ProgID", "", "told"), S_OK);
  EXPECT_EQ(Query("Told.ProgID"), "told");
  unsetenv("KVCOM_REGISTRY");

  KvRegistryUseFile(m_path);
  EXPECT_EQ(Query("Chosen.ProgID"), "chosen");
  EXPECT_EQ(Query("Told.ProgID"), "<missing>");
}

}  // namespace
