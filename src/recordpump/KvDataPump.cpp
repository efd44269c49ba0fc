#include "KvDataPump.h"

#include "../common/Session.h"
#include "../module/ModuleLock.h"

CKvDataPump::CKvDataPump() = default;

CKvDataPump::~CKvDataPump() {
  CleanFieldValues();
  CloseQuery();
  m_mapLangTexts.clear();
  if (m_spObjectContext) m_spObjectContext.Reset();
}

HRESULT CKvDataPump::CreateInstance(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CKvDataPump* p = new (std::nothrow) CKvDataPump();
  if (!p) return E_OUTOFMEMORY;
  ModuleLock();
  p->AddRef();
  const HRESULT hr = p->QueryInterface(riid, ppv);
  p->Release();
  return hr;
}

HRESULT CKvDataPump::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IKvDataPump::kIid) {
    *ppv = static_cast<IKvDataPump*>(this);
  } else if (riid == IObjectControl::kIid) {
    *ppv = static_cast<IObjectControl*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CKvDataPump::AddRef() { return ++m_cRef; }

ULONG CKvDataPump::Release() {
  const ULONG c = --m_cRef;
  if (c == 0) {
    delete this;
    ModuleUnlock();
  }
  return c;
}

HRESULT CKvDataPump::MoveTo(LONG p_lId) {
  m_lId = p_lId;
  return S_OK;
}

bool CKvDataPump::ReadGuard() {
  return m_pSession && SessionIsValid(m_pSession.Get()) && !m_strTable.empty() && m_lId >= 1;
}
