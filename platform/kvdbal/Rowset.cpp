#include "KvDbal.h"
#include "RowsetImpl.h"

CKvDbRowset::CKvDbRowset() : m_impl(std::make_unique<kvdbal::RowsetImpl>()) {}
CKvDbRowset::~CKvDbRowset() = default;

void CKvDbRowset::Open(const char* sql, CKvDbConnection* pConnection, eKvDbCursorType cursorType,
                       eKvDbLockType lockType, eKvDbFetchOption /*fetchOption*/) {
  m_impl->Open(sql, pConnection, cursorType, lockType);
}
bool CKvDbRowset::IsOpen() const { return m_impl->IsOpen(); }
bool CKvDbRowset::IsEOF() const { return m_impl->IsEOF(); }
bool CKvDbRowset::IsBOF() const { return m_impl->IsBOF(); }
void CKvDbRowset::MoveFirst() { m_impl->MoveFirst(); }
void CKvDbRowset::MoveNext() { m_impl->MoveNext(); }
void CKvDbRowset::MovePrev() { m_impl->MovePrev(); }
void CKvDbRowset::MoveLast() { m_impl->MoveLast(); }
void CKvDbRowset::Move(long nRecords) { m_impl->Move(nRecords); }
void CKvDbRowset::AddNew() { m_impl->AddNew(); }
void CKvDbRowset::Update() { m_impl->Update(); }
void CKvDbRowset::Close() { m_impl->Close(); }
int CKvDbRowset::GetFieldCount() const { return m_impl->FieldCount(); }

CKvDbField* CKvDbRowset::GetField(int nIndex) { return m_impl->FieldAt(nIndex); }

CKvDbField* CKvDbRowset::GetField(const char* pszName) {
  if (!pszName) throw CKvDbException(E_POINTER, "no column name");
  return m_impl->FieldNamed(pszName);
}

CKvDbField* CKvDbRowset::GetField(const VARIANT& vName, VARIANT* /*pReserved*/) {
  CComVariant key;
  HRESULT hr = VariantCopyInd(&key, &vName);
  if (FAILED(hr)) throw CKvDbException(hr, "cannot read the column key");
  switch (key.vt) {
    case VT_BSTR:
      return m_impl->FieldNamed(Utf8FromBstr(key.bstrVal));
    case VT_I2:
      return m_impl->FieldAt(key.iVal);
    case VT_I4:
      return m_impl->FieldAt(key.lVal);
    default:
      throw CKvDbException(KVDB_E_BADCOLUMN, "a column is named by text or by its index");
  }
}
