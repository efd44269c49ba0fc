// The in-process server modules that the class registry loads (see
// ClassRegistry.h): self-registration of a module file, as kvregsvr does it,
// and how many modules are loaded.
#pragma once

#include <cstddef>
#include <string>

#include "Unknwn.h"

// Loads the module at modulePath (keeping it loaded like any module the
// registry loads) and calls its DllRegisterServer, or DllUnregisterServer
// when unregister is set. On failure *error (when given) says what went
// wrong: CO_E_DLLNOTFOUND for a module that cannot be loaded,
// CO_E_ERRORINDLL for one without the entry point, else the entry point's
// own failure.
HRESULT KvServerRegisterModule(const std::string& modulePath, bool unregister, std::string* error);

// Number of modules the registry has loaded and not yet unloaded.
size_t KvServerLoadedModuleCount();
