// The file-backed class registry as CoGetClassObject, CoCreateInstance,
// CLSIDFromProgID and CoFreeUnusedLibraries see it: asked only after the
// in-process registrations, with the not-registered answers when it knows
// nothing.
#pragma once

#include <string>

#include "Unknwn.h"

// The class object of a registered class, from its module (loaded on first
// use). REGDB_E_CLASSNOTREG when no class is registered under rclsid.
HRESULT KvRegistryGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
// The class id registered for a ProgID; CO_E_CLASSSTRING when there is none.
HRESULT KvRegistryCLSIDFromProgID(const std::string& progId, CLSID* out);
// Unloads the loaded modules that agree to it.
void KvRegistryFreeUnusedLibraries();
