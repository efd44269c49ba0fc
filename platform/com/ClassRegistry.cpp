// The file-backed class registry behind CoGetClassObject, CoCreateInstance,
// CLSIDFromProgID and CoFreeUnusedLibraries: a class id names its module
// under CLSID\{clsid}\InprocServer32, a ProgID its class id under
// <ProgID>\CLSID. A module is loaded with dlopen on first use and stays
// loaded until it agrees to unload (DllCanUnloadNow answers S_OK) while no
// call into it is running.
#include "ClassRegistry.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <list>
#include <mutex>
#include <vector>

#include "ObjBase.h"
#include "Registry.h"
#include "ServerModules.h"

namespace {

using PFN_DllSelfRegister = HRESULT (*)();

struct LoadedModule {
  std::string path;  // canonical
  // The paths registries named it by. Finding a loaded module by the name
  // the registry gives spares resolving every link of that path again on
  // each creation; a path first seen is resolved once and remembered here.
  std::vector<std::string> namedAs;
  void* handle = nullptr;
  PFN_DllGetClassObject getClassObject = nullptr;
  PFN_DllCanUnloadNow canUnloadNow = nullptr;
  int callsInProgress = 0;  // calls into the module that must finish before it may go
};

struct ModuleTable {
  std::mutex lock;
  std::list<LoadedModule> modules;  // a list, so entries stay put while calls run
};

ModuleTable& Table() {
  static ModuleTable table;
  return table;
}

bool CanonicalPath(const std::string& path, std::string* out) {
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return false;
  *out = buf;
  return true;
}

// Finds or loads the module; the caller holds the table's lock.
HRESULT Acquire(ModuleTable& table, const std::string& path, LoadedModule** out,
                std::string* error) {
  for (LoadedModule& m : table.modules) {
    if (std::find(m.namedAs.begin(), m.namedAs.end(), path) != m.namedAs.end()) {
      *out = &m;
      return S_OK;
    }
  }
  std::string canonical;
  if (!CanonicalPath(path, &canonical)) {
    if (error) *error = "cannot find module " + path;
    return CO_E_DLLNOTFOUND;
  }
  for (LoadedModule& m : table.modules) {
    if (m.path == canonical) {
      m.namedAs.push_back(path);
      *out = &m;
      return S_OK;
    }
  }
  dlerror();
  void* handle = dlopen(canonical.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) {
      const char* why = dlerror();
      *error = std::string("cannot load ") + canonical + (why ? std::string(": ") + why : "");
    }
    return CO_E_DLLNOTFOUND;
  }
  LoadedModule m;
  m.path = canonical;
  m.namedAs.push_back(path);
  m.handle = handle;
  m.getClassObject = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
  m.canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
  table.modules.push_back(std::move(m));
  *out = &table.modules.back();
  return S_OK;
}

// Runs call on the module while it is marked busy, outside the table's lock,
// so the call may itself create objects (and load modules) without deadlock.
template <typename Call>
HRESULT CallInto(ModuleTable& table, LoadedModule* module, Call call) {
  const HRESULT hr = call();
  std::lock_guard<std::mutex> guard(table.lock);
  --module->callsInProgress;
  return hr;
}

}  // namespace

HRESULT KvRegistryModulePath(REFCLSID rclsid, std::string* modulePath, std::string* registryFile) {
  std::string path, file;
  HRESULT hr = KvRegQueryValueWhere("CLSID\\" + StringFromGUID(rclsid) + "\\InprocServer32", "", &path, &file);
  if (FAILED(hr)) return hr;
  if (path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  // A relative module path is relative to the registry file's folder.
  if (path.front() != '/') {
    size_t slash = file.find_last_of('/');
    path = (slash == std::string::npos ? std::string(".") : file.substr(0, slash)) + "/" + path;
  }
  *modulePath = path;
  if (registryFile) *registryFile = file;
  return S_OK;
}

HRESULT KvRegistryGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::string path;
  HRESULT hr = KvRegistryModulePath(rclsid, &path, nullptr);
  if (hr == REGDB_E_READREGDB) return hr;
  if (FAILED(hr)) return REGDB_E_CLASSNOTREG;

  ModuleTable& table = Table();
  LoadedModule* module = nullptr;
  {
    std::lock_guard<std::mutex> guard(table.lock);
    hr = Acquire(table, path, &module, nullptr);
    if (FAILED(hr)) return hr;
    if (!module->getClassObject) return CO_E_ERRORINDLL;
    ++module->callsInProgress;
  }
  const PFN_DllGetClassObject get = module->getClassObject;
  return CallInto(table, module, [&] { return get(rclsid, riid, ppv); });
}

HRESULT KvRegistryCLSIDFromProgID(const std::string& progId, CLSID* out) {
  if (!out) return E_POINTER;
  *out = GUID_NULL;
  if (progId.empty() || progId.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
  std::string text;
  HRESULT hr = KvRegQueryValue(progId + "\\CLSID", "", &text);
  if (hr == REGDB_E_READREGDB) return hr;
  if (FAILED(hr) || !GUIDFromString(text, out)) return CO_E_CLASSSTRING;
  return S_OK;
}

void KvRegistryFreeUnusedLibraries() {
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  for (auto it = table.modules.begin(); it != table.modules.end();) {
    if (it->callsInProgress == 0 && it->canUnloadNow && it->canUnloadNow() == S_OK) {
      dlclose(it->handle);
      it = table.modules.erase(it);
    } else {
      ++it;
    }
  }
}

size_t KvServerLoadedModuleCount() {
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  return table.modules.size();
}

HRESULT KvServerRegisterModule(const std::string& modulePath, bool unregister, std::string* error) {
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  ModuleTable& table = Table();
  LoadedModule* module = nullptr;
  PFN_DllSelfRegister selfRegister = nullptr;
  std::string path;
  {
    std::lock_guard<std::mutex> guard(table.lock);
    HRESULT hr = Acquire(table, modulePath, &module, error);
    if (FAILED(hr)) return hr;
    selfRegister = reinterpret_cast<PFN_DllSelfRegister>(dlsym(module->handle, entry));
    if (!selfRegister) {
      if (error) *error = module->path + " has no " + entry;
      return CO_E_ERRORINDLL;
    }
    path = module->path;
    ++module->callsInProgress;
  }
  const HRESULT hr = CallInto(table, module, selfRegister);
  if (FAILED(hr) && error) {
    char code[16];
    snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    *error = std::string(entry) + " of " + path + " failed with " + code;
  }
  return hr;
}
