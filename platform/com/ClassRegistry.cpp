// Until a file-backed registry is built in, no class is registered.
#include "ClassRegistry.h"

HRESULT KvRegistryGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/, void** ppv) {
  if (ppv) *ppv = nullptr;
  return REGDB_E_CLASSNOTREG;
}

HRESULT KvRegistryCLSIDFromProgID(const std::string& /*progId*/, CLSID* out) {
  if (out) *out = GUID_NULL;
  return CO_E_CLASSSTRING;
}

void KvRegistryFreeUnusedLibraries() {}
