#include "ClassFactory.h"

#include "ModuleLock.h"

HRESULT CKvClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// The cache's reference is the first; the step from one to two references
// is a client taking the factory, the step back its last release. The count
// is one atomic, so these two steps alternate and lock and unlock pair up.
ULONG CKvClassFactory::AddRef() {
  const ULONG c = m_cRef.fetch_add(1, std::memory_order_acq_rel) + 1;
  if (c == 2) ModuleLock();
  return c;
}

ULONG CKvClassFactory::Release() {
  const ULONG c = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (c == 1) ModuleUnlock();
  if (c == 0) delete this;
  return c;
}

HRESULT CKvClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  // An aggregate can only hold the inner object by its own IUnknown.
  if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  return m_createInstance(pUnkOuter, riid, ppvObject);
}

HRESULT CKvClassFactory::LockServer(BOOL fLock) {
  if (fLock)
    ModuleLock();
  else
    ModuleUnlock();
  return S_OK;
}
