#include "Registration.h"

#include "ClassTable.h"
#include "Registrar.h"
#include "RegistryScripts.h"
#include "TypeLibrary.h"

namespace {

// Both classes in one registry transaction: either both registrations apply or
// the registry stays as it was.
HRESULT ApplyScripts(const std::string& modulePath, bool unregister) {
  KvRegistryTransaction tx;
  HRESULT hr = tx.Begin();
  if (FAILED(hr)) return hr;
  for (const KvClassEntry& entry : KvClassTable()) {
    const KvRegistrarReplacements replacements = {
        {"MODULE", modulePath},
        {"CLSID", StringFromGUID(entry.clsid)},
        {"LIBID", StringFromGUID(LIBID_KVHTMLDBTOOLSLib)},
        {"CLASS", entry.className},
        {"DESCRIPTION", entry.description},
        {"THREADING", entry.threadingModel},
    };
    hr = KvRegistrarApply(kClassRegistryScript, replacements, unregister, tx);
    if (FAILED(hr)) return hr;
  }
  return tx.Commit();
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

HRESULT KvRegisterServer(const std::string& modulePath) {
  if (modulePath.empty()) return E_INVALIDARG;
  HRESULT hr = ApplyScripts(modulePath, false);
  if (FAILED(hr)) return hr;
  ComPtr<ITypeLib> library;
  if (FAILED(hr = KvGetTypeLib(library.ReleaseAndGetAddressOf()))) return hr;
  return RegisterTypeLib(library.Get(), modulePath, DirectoryOf(modulePath));
}

HRESULT KvUnregisterServer(const std::string& modulePath) {
  HRESULT hr = ApplyScripts(modulePath, true);
  if (FAILED(hr)) return hr;
  hr = UnRegisterTypeLib(LIBID_KVHTMLDBTOOLSLib, kKvTypeLibMajor, kKvTypeLibMinor, kKvTypeLibLcid);
  // Unregistering twice is not an error.
  return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}
