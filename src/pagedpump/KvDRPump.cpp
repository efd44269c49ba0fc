#include "KvDRPump.h"

// Placeholder until the paged result pump lands.
CKvDRPump::CKvDRPump() = default;
CKvDRPump::~CKvDRPump() = default;
HRESULT CKvDRPump::CreateInstance(IUnknown*, REFIID, void** ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOTIMPL;
}
HRESULT CKvDRPump::QueryInterface(REFIID, void** ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOINTERFACE;
}
ULONG CKvDRPump::AddRef() { return ++m_cRef; }
ULONG CKvDRPump::Release() { return --m_cRef; }
HRESULT CKvDRPump::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT CKvDRPump::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT CKvDRPump::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CKvDRPump::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}
HRESULT CKvDRPump::Init(IDispatch*, BSTR, BSTR, LONG, VARIANT_BOOL, LONG*) { return E_NOTIMPL; }
HRESULT CKvDRPump::MoveNext() { return E_NOTIMPL; }
HRESULT CKvDRPump::get_IsEOF(LONG*) { return E_NOTIMPL; }
HRESULT CKvDRPump::Close() { return E_NOTIMPL; }
HRESULT CKvDRPump::get_Value(BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CKvDRPump::MoveFirst() { return E_NOTIMPL; }
HRESULT CKvDRPump::MoveLast() { return E_NOTIMPL; }
HRESULT CKvDRPump::MovePrevious() { return E_NOTIMPL; }
HRESULT CKvDRPump::get_IsBOF(LONG*) { return E_NOTIMPL; }
HRESULT CKvDRPump::get_ValueEx(BSTR, LONG, VARIANT*) { return E_NOTIMPL; }
std::string CutLastClause(const std::string& text, const std::string&) { return text; }
