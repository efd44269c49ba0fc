// The shared plumbing of the host's data pack and file copier components: a
// thread-safe reference count, an IDispatch for objects that callers reach
// by vtable only, error information for their failures, and a class factory
// that makes a fresh object for every CreateInstance.
#pragma once

#include <atomic>
#include <new>
#include <string>

#include "../com/ComError.h"
#include "../com/ObjBase.h"
#include "../com/Unknwn.h"

namespace kvhost {

// Reference count and the error-information support of one host component.
// Derived classes list their interfaces and answer QueryInterface.
class CComponentBase : public ISupportErrorInfo {
 public:
  ULONG AddRef() override { return ++m_cRef; }
  ULONG Release() override {
    const ULONG c = --m_cRef;
    if (c == 0) delete this;
    return c;
  }

 protected:
  CComponentBase() = default;
  virtual ~CComponentBase() = default;

  // Leaves an error-information object with the description for the caller
  // (read through ISupportErrorInfo and GetErrorInfo) and returns hr.
  static HRESULT Fail(HRESULT hr, const std::string& description, const char* source) {
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(CreateSimpleErrorInfo(description, source, &info)) && info) {
      SetErrorInfo(0, info);
      info->Release();
    }
    return hr;
  }

 private:
  std::atomic<ULONG> m_cRef{1};
};

// IDispatch members of a component without type information.
#define KV_HOST_COMPONENT_DISPATCH                                                               \
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {                                             \
    if (!pctinfo) return E_POINTER;                                                              \
    *pctinfo = 0;                                                                                \
    return S_OK;                                                                                 \
  }                                                                                              \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {                                \
    if (ppTInfo) *ppTInfo = nullptr;                                                             \
    return E_NOTIMPL;                                                                            \
  }                                                                                              \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) override {       \
    for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;                  \
    return DISP_E_UNKNOWNNAME;                                                                   \
  }                                                                                              \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return DISP_E_MEMBERNOTFOUND;                                                                \
  }                                                                                              \
  ULONG AddRef() override { return kvhost::CComponentBase::AddRef(); }                           \
  ULONG Release() override { return kvhost::CComponentBase::Release(); }

// Class object of component T: every CreateInstance makes a new T (created
// with one reference) and hands out the requested interface.
template <typename T>
class CClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_cRef; }
  ULONG Release() override {
    const ULONG c = --m_cRef;
    if (c == 0) delete this;
    return c;
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

 private:
  std::atomic<ULONG> m_cRef{1};
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
