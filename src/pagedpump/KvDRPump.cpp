// The paged result pump as a COM object: creation (also inside an
// aggregate), reference counting, the interface table and late binding.
// Init lives in DRPumpInit.cpp, navigation and values in
// DRPumpNavigation.cpp.
#include "KvDRPump.h"

#include <new>

#include "../module/ModuleLock.h"

CKvDRPump::CKvDRPump() = default;

CKvDRPump::~CKvDRPump() = default;

HRESULT CKvDRPump::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregate must get hold of the inner unknown, or it could never
  // control the object's lifetime.
  if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  CKvDRPump* p = new (std::nothrow) CKvDRPump();
  if (!p) return E_OUTOFMEMORY;
  ModuleLock();
  if (pUnkOuter) p->m_pOuter = pUnkOuter;
  // Holding a reference across the query destroys the object when the
  // query fails.
  p->m_inner.AddRef();
  const HRESULT hr = p->m_inner.QueryInterface(riid, ppv);
  p->m_inner.Release();
  return hr;
}

HRESULT CKvDRPump::CInnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  if (riid == IID_IDispatch || riid == IKvDRPump::kIid) {
    IKvDRPump* pInterface = static_cast<IKvDRPump*>(m_owner);
    *ppv = pInterface;
    // Counted through the interface, so an aggregate's outer object stays
    // alive while the interface is held.
    pInterface->AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CKvDRPump::CInnerUnknown::AddRef() { return ++m_owner->m_cRef; }

ULONG CKvDRPump::CInnerUnknown::Release() {
  const ULONG c = --m_owner->m_cRef;
  if (c == 0) {
    delete m_owner;
    ModuleUnlock();
  }
  return c;
}

HRESULT CKvDRPump::QueryInterface(REFIID riid, void** ppv) {
  HRESULT hr = m_pOuter->QueryInterface(riid, ppv);
  // An outer object that does not answer for an interface of ours still
  // lets its holder reach the inner table.
  if (FAILED(hr) && m_pOuter != &m_inner) hr = m_inner.QueryInterface(riid, ppv);
  return hr;
}

ULONG CKvDRPump::AddRef() { return m_pOuter->AddRef(); }

ULONG CKvDRPump::Release() { return m_pOuter->Release(); }

