// Type library registration in the class registry:
//   TypeLib\{libid}\<major>.<minor>            default: the library's help string
//                                 \FLAGS        "0"
//                                 \HELPDIR      the help directory
//                                 \<lcid>\linux the module holding the library
//   Interface\{iid}                             default: the interface name
//                  \ProxyStubClsid32            the automation marshaller
//                  \TypeLib                     {libid}, value Version
#include <cstdio>
#include <vector>

#include "ComPtr.h"
#include "ObjBase.h"
#include "Registry.h"
#include "TypeInfo.h"

namespace {

constexpr const char* kAutomationMarshaller = "{00020424-0000-0000-C000-000000000046}";

std::string Hex(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", value);
  return buf;
}

std::string VersionText(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

std::string LibraryKey(const std::string& libid) { return "TypeLib\\" + libid; }

// The keys of the version key that describe it rather than name a locale.
bool IsDescriptionKey(const std::string& name) {
  return EqualsIgnoringAsciiCase(name, "FLAGS") || EqualsIgnoringAsciiCase(name, "HELPDIR");
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* ptlib, const std::string& fullPath, const std::string& helpDir) {
  if (!ptlib || fullPath.empty()) return E_INVALIDARG;
  TLIBATTR attr;
  HRESULT hr = ptlib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  CComBSTR help;
  hr = ptlib->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
  if (FAILED(hr)) return hr;

  const std::string libid = StringFromGUID(attr.guid);
  const std::string version = VersionText(attr.wMajorVerNum, attr.wMinorVerNum);
  const std::string base = LibraryKey(libid) + "\\" + version;

  KvRegistryTransaction tx;
  if (FAILED(hr = tx.Begin())) return hr;
  const auto set = [&](const std::string& key, const char* name, const std::string& value) {
    if (SUCCEEDED(hr)) hr = tx.SetValue(key, name, value);
  };
  set(base, "", help.ToUtf8());
  set(base + "\\FLAGS", "", "0");
  set(base + "\\HELPDIR", "", helpDir);
  set(base + "\\" + Hex(attr.lcid) + "\\linux", "", fullPath);

  const UINT count = ptlib->GetTypeInfoCount();
  for (UINT i = 0; i < count && SUCCEEDED(hr); ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(hr = ptlib->GetTypeInfo(i, info.ReleaseAndGetAddressOf()))) break;
    TYPEATTR typeAttr;
    if (FAILED(hr = info->GetTypeAttr(&typeAttr))) break;
    if (typeAttr.typekind != TKIND_DISPATCH && typeAttr.typekind != TKIND_INTERFACE) continue;
    CComBSTR name;
    if (FAILED(hr = info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) break;
    const std::string key = "Interface\\" + StringFromGUID(typeAttr.guid);
    set(key, "", name.ToUtf8());
    set(key + "\\ProxyStubClsid32", "", kAutomationMarshaller);
    set(key + "\\TypeLib", "", libid);
    set(key + "\\TypeLib", "Version", version);
  }
  if (FAILED(hr)) return hr;
  return tx.Commit();
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid) {
  const std::string libid = StringFromGUID(libID);
  const std::string version = VersionText(wVerMajor, wVerMinor);
  const std::string libraryKey = LibraryKey(libid);
  const std::string base = libraryKey + "\\" + version;

  KvRegistryTransaction tx;
  HRESULT hr = tx.Begin();
  if (FAILED(hr)) return hr;
  KvRegistryTree& tree = tx.Tree();
  const KvRegistryTree::Key* versionKey = tree.Find(base);
  if (!versionKey || !tree.Find(base + "\\" + Hex(lcid))) return TYPE_E_LIBNOTREGISTERED;

  tree.DeleteTree(base + "\\" + Hex(lcid));
  bool otherLocales = false;
  for (const auto& [name, sub] : versionKey->subkeys)
    if (!IsDescriptionKey(sub->name)) otherLocales = true;
  if (!otherLocales) {
    tree.DeleteTree(base);
    if (const KvRegistryTree::Key* lib = tree.Find(libraryKey); lib && lib->subkeys.empty())
      tree.DeleteTree(libraryKey);

    // The interfaces that this version of the library described.
    std::vector<std::string> stale;
    if (const KvRegistryTree::Key* interfaces = tree.Find("Interface")) {
      for (const auto& [name, sub] : interfaces->subkeys) {
        auto typeLib = sub->subkeys.find("TypeLib");
        if (typeLib == sub->subkeys.end()) continue;
        const KvRegistryTree::Key& ref = *typeLib->second;
        auto ver = ref.values.find("Version");
        if (ref.defaultValue && *ref.defaultValue == libid && ver != ref.values.end() &&
            ver->second == version)
          stale.push_back("Interface\\" + sub->name);
      }
    }
    for (const std::string& key : stale) tree.DeleteTree(key);
  }
  return tx.Commit();
}
