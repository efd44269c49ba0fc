// The file-backed class registry as CoGetClassObject, CoCreateInstance,
// CLSIDFromProgID and CoFreeUnusedLibraries see it: asked only after the
// in-process registrations, with the not-registered answers when it knows
// nothing.
#pragma once

#include <string>

#include "Unknwn.h"

// The module file registered for a class (a relative entry made absolute
// against its registry's folder) and the registry file that names it.
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when none is registered.
HRESULT KvRegistryModulePath(REFCLSID rclsid, std::string* modulePath, std::string* registryFile);
// The class object of a registered class, from its module (loaded on first
// use). REGDB_E_CLASSNOTREG when no class is registered under rclsid.
HRESULT KvRegistryGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// The class id registered for a ProgID; CO_E_CLASSSTRING when there is none.
HRESULT KvRegistryCLSIDFromProgID(const std::string& progId, CLSID* out);
// Unloads the loaded modules that agree to it.
void KvRegistryFreeUnusedLibraries();
