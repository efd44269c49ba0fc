// What self-registration writes into the class registry and what
// unregistration leaves behind.
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ModuleSupport.h"
#include "platform/com/Registry.h"
#include "platform/com/ServerModules.h"
#include "src/pagedpump/IKvDRPump.h"
#include "src/recordpump/IKvDataPump.h"

namespace {

// Every key, default value and named value as one line each, sorted.
void Flatten(const KvRegistryTree::Key& key, const std::string& path, std::vector<std::string>* out) {
  if (!path.empty()) {
    out->push_back(path);
    if (key.defaultValue) out->push_back(path + " @=" + *key.defaultValue);
    for (const auto& [name, value] : key.values) out->push_back(path + " [" + name + "]=" + value);
  }
  for (const auto& [name, sub] : key.subkeys)
    Flatten(*sub, path.empty() ? sub->name : path + "\\" + sub->name, out);
}

std::vector<std::string> RegistryLines() {
  std::shared_ptr<const KvRegistryTree> tree;
  EXPECT_EQ(KvRegistryLoad(&tree), S_OK);
  std::vector<std::string> lines;
  if (tree) Flatten(tree->Root(), std::string(), &lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> ClassLines(const std::string& progId, const std::string& description,
                                    const std::string& clsid, const std::string& threading,
                                    const std::string& module, const std::string& libid) {
  const std::string key = "CLSID\\" + clsid;
  return {progId,
          progId + " @=" + description,
          progId + "\\CLSID",
          progId + "\\CLSID @=" + clsid,
          progId + "\\CurVer",
          progId + "\\CurVer @=" + progId + ".1",
          progId + ".1",
          progId + ".1 @=" + description,
          progId + ".1\\CLSID",
          progId + ".1\\CLSID @=" + clsid,
          key,
          key + " @=" + description,
          key + "\\InprocServer32",
          key + "\\InprocServer32 @=" + module,
          key + "\\InprocServer32 [ThreadingModel]=" + threading,
          key + "\\ProgID",
          key + "\\ProgID @=" + progId + ".1",
          key + "\\Programmable",
          key + "\\TypeLib",
          key + "\\TypeLib @=" + libid,
          key + "\\VersionIndependentProgID",
          key + "\\VersionIndependentProgID @=" + progId};
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = MakeTempDir("kvregister");
    setenv("KVCOM_REGISTRY", (m_dir + "/registry").c_str(), 1);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(KV_MODULE_PATH, resolved), nullptr);
    m_module = resolved;
  }
  void TearDown() override {
    setenv("KVCOM_REGISTRY", TestRegistryPath().c_str(), 1);
    ASSERT_EQ(system(("rm -rf '" + m_dir + "'").c_str()), 0);
  }

  HRESULT Register(bool unregister = false) {
    std::string error;
    const HRESULT hr = KvServerRegisterModule(KV_MODULE_PATH, unregister, &error);
    EXPECT_EQ(hr, S_OK) << error;
    return hr;
  }

  std::string m_dir;
  std::string m_module;
};

TEST_F(RegistrationTest, RegistrationWritesTheClassesAndTheTypeLibrary) {
  // Someone else's class, which must survive both directions.
  ASSERT_EQ(KvRegSetValue("CLSID\\{00000000-1111-2222-3333-444444444444}", "", "Other"), S_OK);
  ASSERT_EQ(Register(), S_OK);

  // The type library id, as the registered classes name it.
  std::string libid;
  ASSERT_EQ(KvRegQueryValue("CLSID\\" + StringFromGUID(CLSID_KvDataPump) + "\\TypeLib", "", &libid),
            S_OK);
  const std::string version = "TypeLib\\" + libid + "\\1.0";
  std::vector<std::string> expected = {
      "CLSID\\{00000000-1111-2222-3333-444444444444}",
      "CLSID\\{00000000-1111-2222-3333-444444444444} @=Other",
      "CLSID",
      "TypeLib",
      "TypeLib\\" + libid,
      version,
      version + " @=KvHtmlDbTools 1.0 Type Library",
      version + "\\409",
      version + "\\409\\linux",
      version + "\\409\\linux @=" + m_module,
      version + "\\FLAGS",
      version + "\\FLAGS @=0",
      version + "\\HELPDIR",
      version + "\\HELPDIR @=" + m_module.substr(0, m_module.rfind('/')),
      "Interface",
  };
  for (const auto& [iid, name] : {std::pair{IKvDataPump::kIid, "IKvDataPump"},
                                  std::pair{IKvDRPump::kIid, "IKvDRPump"}}) {
    const std::string key = "Interface\\" + StringFromGUID(iid);
    for (const std::string& line :
         {key, key + " @=" + name, key + "\\ProxyStubClsid32",
          key + "\\ProxyStubClsid32 @={00020424-0000-0000-C000-000000000046}", key + "\\TypeLib",
          key + "\\TypeLib @=" + libid, key + "\\TypeLib [Version]=1.0"})
      expected.push_back(line);
  }
  for (const std::string& line : ClassLines("KvHtmlDbTools.KvDataPump", "KvDataPump",
                                            StringFromGUID(CLSID_KvDataPump), "Both", m_module, libid))
    expected.push_back(line);
  for (const std::string& line :
       ClassLines("KvHtmlDbTools.KvDRPump", "KvDRPump Class", StringFromGUID(CLSID_KvDRPump),
                  "Apartment", m_module, libid))
    expected.push_back(line);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(RegistryLines(), expected);

  // Unregistering removes every key of the scripts but the shared CLSID key.
  ASSERT_EQ(Register(/*unregister=*/true), S_OK);
  EXPECT_EQ(RegistryLines(), (std::vector<std::string>{
                                 "CLSID",
                                 "CLSID\\{00000000-1111-2222-3333-444444444444}",
                                 "CLSID\\{00000000-1111-2222-3333-444444444444} @=Other",
                                 "Interface",
                                 "TypeLib",
                             }));
  // Twice is harmless.
  EXPECT_EQ(Register(/*unregister=*/true), S_OK);
}

TEST_F(RegistrationTest, RegisteringAgainReplacesTheClassKeyWhole) {
  ASSERT_EQ(Register(), S_OK);
  const std::string key = "CLSID\\" + StringFromGUID(CLSID_KvDataPump);
  ASSERT_EQ(KvRegSetValue(key + "\\LocalServer32", "", "/stale/server"), S_OK);
  ASSERT_EQ(KvRegSetValue(key + "\\Programmable\\Stale", "", "x"), S_OK);
  ASSERT_EQ(KvRegSetValue(key + "\\InprocServer32", "", "/old/place/libkvhtmldbtools10.so"), S_OK);
  ASSERT_EQ(KvRegSetValue("KvHtmlDbTools.KvDataPump", "Note", "kept"), S_OK);

  ASSERT_EQ(Register(), S_OK);
  EXPECT_FALSE(KvRegKeyExists(key + "\\LocalServer32"));
  EXPECT_FALSE(KvRegKeyExists(key + "\\Programmable\\Stale"));
  EXPECT_TRUE(KvRegKeyExists(key + "\\Programmable"));
  std::string path;
  ASSERT_EQ(KvRegQueryValue(key + "\\InprocServer32", "", &path), S_OK);
  EXPECT_EQ(path, m_module);
  // Keys outside the class id key are written over, not replaced.
  std::string note;
  EXPECT_EQ(KvRegQueryValue("KvHtmlDbTools.KvDataPump", "Note", &note), S_OK);

  // The classes are creatable from this registry.
  EXPECT_TRUE(CreateByProgId(u"KvHtmlDbTools.KvDataPump.1"));
}

}  // namespace
