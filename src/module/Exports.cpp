// The module's exported entry points, through which the COM runtime (and
// kvregsvr) reach the class objects, the unload check and self-registration.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "ClassTable.h"
#include "ModuleLock.h"
#include "Registration.h"

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The path the module was loaded from, made absolute so the registry entry
// stays valid whatever the registering process's working directory was.
std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return std::string();
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

}  // namespace

KV_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return KvGetClassObject(rclsid, riid, ppv);
}

// No object alive, no client holding a class object, no LockServer lock.
KV_EXPORT HRESULT DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

KV_EXPORT HRESULT DllRegisterServer() { return KvRegisterServer(ModulePath()); }

KV_EXPORT HRESULT DllUnregisterServer() { return KvUnregisterServer(ModulePath()); }
