// Component creation: in-process class registrations, CoCreateInstance,
// ProgID lookup and OleRun. Registrations made with CoRegisterClassObject are
// searched first; then the file-backed class registry, whose registered
// modules are loaded with dlopen and asked through DllGetClassObject.
#pragma once

#include <string>

#include "Unknwn.h"

HRESULT CoInitialize(void* pvReserved);
void CoUninitialize();

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid,
                         void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string StringFromGUID(REFGUID guid);
bool GUIDFromString(const std::string& text, GUID* out);
HRESULT OleRun(IUnknown* pUnknown);
// Asks every module loaded by CoCreateInstance whether it can unload
// (DllCanUnloadNow) and unloads those that can.
void CoFreeUnusedLibraries();

// Type of a module's DllGetClassObject / DllCanUnloadNow / DllRegisterServer.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
