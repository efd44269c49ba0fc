// In-process servers registered in the class registry: a class id names its
// module under CLSID\{clsid}\InprocServer32, a ProgID its class id under
// <ProgID>\CLSID. Modules are loaded with dlopen on first use and kept loaded
// until KvServerFreeUnusedLibraries finds that they agree to unload
// (DllCanUnloadNow answers S_OK) and no call into them is running.
#pragma once

#include <string>

#include "Unknwn.h"

// The class object of a registered class, from its module's DllGetClassObject.
// REGDB_E_CLASSNOTREG when the class or its module path is not registered,
// CO_E_DLLNOTFOUND when the module cannot be loaded, CO_E_ERRORINDLL when it
// has no DllGetClassObject; otherwise what DllGetClassObject answers.
HRESULT KvServerGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

// The class id registered for a ProgID; CO_E_CLASSSTRING when there is none
// (or it is not a class id), REGDB_E_READREGDB when the registry is unreadable.
HRESULT KvServerCLSIDFromProgID(const std::string& progId, CLSID* pclsid);

// Unloads every loaded module that answers S_OK to DllCanUnloadNow.
void KvServerFreeUnusedLibraries();

// Number of modules currently loaded through the registry (for diagnostics).
size_t KvServerLoadedModuleCount();

// Loads the module at modulePath and calls its DllRegisterServer (or
// DllUnregisterServer). On failure *error (when given) says what went wrong.
HRESULT KvServerRegisterModule(const std::string& modulePath, bool unregister, std::string* error);
