// What the host's data pack and file copier components share beyond the
// common host object: leaving error information for a failure, and a class
// object that makes a fresh component for every CreateInstance.
#pragma once

#include <new>
#include <string>

#include "../com/ComError.h"
#include "../com/ObjBase.h"
#include "HostObject.h"

namespace kvhost {

// Leaves an error-information object with the description for the caller
// (read through ISupportErrorInfo and GetErrorInfo) and returns hr.
inline HRESULT Fail(HRESULT hr, const std::string& description, const char* source) {
  ComPtr<IErrorInfo> info;
  CreateSimpleErrorInfo(description, source, info.ReleaseAndGetAddressOf());
  SetErrorInfo(0, info.Get());
  return hr;
}

template <typename T>
class CClassFactory final : public KvHostObject<IClassFactory> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) return Offer(static_cast<IClassFactory*>(this), ppv);
    return E_NOINTERFACE;
  }
  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

// Registers the class object of T in-process for clsid; the cookie, or 0
// when the registration failed.
template <typename T>
DWORD RegisterComponentClass(REFCLSID clsid) {
  IClassFactory* factory = new (std::nothrow) CClassFactory<T>();
  if (!factory) return 0;
  DWORD cookie = 0;
  const HRESULT hr =
      CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  factory->Release();
  return SUCCEEDED(hr) ? cookie : 0;
}

}  // namespace kvhost
