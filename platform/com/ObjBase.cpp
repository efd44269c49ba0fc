// Component creation: the in-process class table, then the class registry.
#include "ObjBase.h"

#include <mutex>
#include <vector>

#include "ClassRegistry.h"
#include "ComPtr.h"

namespace {

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* classObject;  // holds one reference
};

class ClassTable {
 public:
  DWORD Add(REFCLSID clsid, IUnknown* classObject) {
    classObject->AddRef();
    std::lock_guard<std::mutex> lock(m_mutex);
    const DWORD cookie = m_nextCookie++;
    if (m_nextCookie == 0) m_nextCookie = 1;
    m_entries.push_back({cookie, clsid, classObject});
    return cookie;
  }

  // The registered object, released by the caller; null when the cookie is unknown.
  IUnknown* Remove(DWORD cookie) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
      if (it->cookie == cookie) {
        IUnknown* object = it->classObject;
        m_entries.erase(it);
        return object;
      }
    }
    return nullptr;
  }

  // A new reference to the class object registered last for clsid, or null.
  // The newest registration wins, so a host or a test can lay its own class
  // over an earlier one for a while and get the earlier back by revoking.
  ComPtr<IUnknown> Find(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
      if (it->clsid == clsid) return ComPtr<IUnknown>(it->classObject);
    return nullptr;
  }

 private:
  std::mutex m_mutex;
  std::vector<Registration> m_entries;
  DWORD m_nextCookie = 1;
};

ClassTable& Table() {
  // Never destroyed: a registration may outlive static destruction in
  // another module, and a late revoke must still find a live table.
  static ClassTable* table = new ClassTable();
  return *table;
}

}  // namespace

HRESULT CoInitialize(void* /*pvReserved*/) { return S_OK; }

void CoUninitialize() {}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD /*dwClsContext*/, DWORD /*flags*/,
                              DWORD* lpdwRegister) {
  if (!pUnk || !lpdwRegister) return E_POINTER;
  *lpdwRegister = Table().Add(rclsid, pUnk);
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  IUnknown* object = Table().Remove(dwRegister);
  if (!object) return E_INVALIDARG;
  // Released outside the table's lock: the release may run arbitrary code.
  object->Release();
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD /*dwClsContext*/, void* /*pvReserved*/, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (ComPtr<IUnknown> registered = Table().Find(rclsid)) return registered->QueryInterface(riid, ppv);
  return KvRegistryGetClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  const HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                      factory.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  return factory->CreateInstance(pUnkOuter, riid, ppv);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (!lpszProgID || !lpclsid) return E_POINTER;
  *lpclsid = GUID_NULL;
  size_t n = 0;
  while (lpszProgID[n]) ++n;
  if (n == 0) return CO_E_CLASSSTRING;
  return KvRegistryCLSIDFromProgID(Utf16ToUtf8(lpszProgID, n), lpclsid);
}

HRESULT OleRun(IUnknown* pUnknown) {
  if (!pUnknown) return E_POINTER;
  ComPtr<IRunnableObject> runnable;
  if (FAILED(pUnknown->QueryInterface(IID_IRunnableObject, runnable.ReleaseAndGetVoidAddress())) || !runnable)
    return S_OK;  // an object without a running state is always running
  return runnable->Run(nullptr);
}

void CoFreeUnusedLibraries() { KvRegistryFreeUnusedLibraries(); }
