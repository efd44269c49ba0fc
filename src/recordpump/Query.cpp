#include "KvDataPump.h"

// Placeholder until the query cursor lands. CloseQuery is real: the
// destructor relies on it.
HRESULT CKvDataPump::QueryInit(IDispatch*, BSTR) { return E_NOTIMPL; }
HRESULT CKvDataPump::CloseQuery() {
  if (m_pQueryRowset && m_pQueryRowset->IsOpen()) m_pQueryRowset->Close();
  m_pQueryRowset.reset();
  m_pQueryConnection.reset();
  return S_OK;
}
HRESULT CKvDataPump::get_IsEOF(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CKvDataPump::MoveNext(LONG*) { return E_NOTIMPL; }
HRESULT CKvDataPump::MoveFirst(LONG*) { return E_NOTIMPL; }
HRESULT CKvDataPump::MovePrevious(LONG*) { return E_NOTIMPL; }
HRESULT CKvDataPump::MoveLast(LONG*) { return E_NOTIMPL; }
HRESULT CKvDataPump::get_Value(BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CKvDataPump::get_ValueEx(BSTR, LONG, VARIANT*) { return E_NOTIMPL; }
