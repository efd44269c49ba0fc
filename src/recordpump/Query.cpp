// The record pump's ad-hoc query cursor: one query at a time, opened by
// QueryInit on its own connection and rowset, walked and read until
// CloseQuery (or the next QueryInit, or the pump's end).
#include "../common/Session.h"
#include "../common/VariantValues.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"

namespace {

// A VARIANT key naming a column; it borrows the caller's string.
VARIANT ColumnKey(BSTR name) {
  VARIANT key;
  VariantInit(&key);
  key.vt = VT_BSTR;
  key.bstrVal = name;
  return key;
}

void ReadColumnValue(CKvDbRowset& rowset, BSTR field, VARIANT* pVal) {
  const CComVariant value = rowset.GetField(ColumnKey(field))->GetValue();
  SetValueOrEmptyString(pVal, value);
}

// The navigation methods other than MoveNext hand out the lid of the row
// they land on; without a current row or a lid column the read raises.
void ReadRowId(CKvDbRowset& rowset, LONG* p_lId) {
  const CComVariant key(std::string_view("lid"));
  *p_lId = static_cast<LONG>(rowset.GetField(key)->GetLongValue());
}

// Moves the query cursor (none without a query) with move and hands out the
// lid of the row it lands on.
HRESULT MoveAndReadId(CKvDbRowset* rowset, int site, void (CKvDbRowset::*move)(), LONG* p_lId) {
  if (!p_lId) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, site, [&] {
    *p_lId = -1;
    if (!rowset) return;
    (rowset->*move)();
    ReadRowId(*rowset, p_lId);
  });
}

}  // namespace

HRESULT CKvDataPump::QueryInit(IDispatch* p_pSession, BSTR p_pszQuery) {
  return SwallowingFrame(kSourceDataPump, tracesite::kQueryInit, [&] {
    m_pSession.Reset();
    m_pSession = QueryHostSession(p_pSession);
    const std::string sql = Utf8FromBstr(p_pszQuery);

    CleanFieldValues();
    CloseQuery();
    if (!m_pSession) throw _com_error(E_POINTER);

    m_pQueryConnection = OpenSessionConnection(m_pSession.Get());
    m_pQueryRowset = std::make_unique<CKvDbRowset>();

    // The query's option texts replace whatever the map held (the form's
    // control texts included), so ValueEx translates with the right ones.
    LoadQueryLangTexts(m_mapLangTexts, sql, *m_pQueryConnection, *m_pQueryRowset);
    m_strTable.clear();

    m_pQueryRowset->Open(sql.c_str(), m_pQueryConnection.get(), kvDbCursorUnspecified,
                         kvDbLockUnspecified, kvDbFetchDefault);
  });
}

HRESULT CKvDataPump::CloseQuery() {
  return StandardFrame(kSourceDataPump, tracesite::kCloseQuery, [&] {
    if (m_pQueryRowset) {
      if (m_pQueryRowset->IsOpen()) m_pQueryRowset->Close();
      m_pQueryRowset.reset();
    }
    m_pQueryConnection.reset();
    return S_OK;
  });
}

HRESULT CKvDataPump::get_IsEOF(VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDataPump, tracesite::kIsEOF, [&] {
    *pVal = VARIANT_TRUE;
    if (m_pQueryRowset) *pVal = m_pQueryRowset->IsEOF() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

// Without a query there is no rowset to move or read: the methods below end
// as a failed move or read does, quietly, with -1 or the untouched result.

HRESULT CKvDataPump::MoveNext(LONG* p_lId) {
  if (!p_lId) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kMoveNext, [&] {
    *p_lId = -1;
    if (m_pQueryRowset) m_pQueryRowset->MoveNext();
  });
}

HRESULT CKvDataPump::MoveFirst(LONG* p_lId) {
  return MoveAndReadId(m_pQueryRowset.get(), tracesite::kMoveFirst, &CKvDbRowset::MoveFirst, p_lId);
}

HRESULT CKvDataPump::MovePrevious(LONG* p_lId) {
  return MoveAndReadId(m_pQueryRowset.get(), tracesite::kMovePrevious, &CKvDbRowset::MovePrev, p_lId);
}

HRESULT CKvDataPump::MoveLast(LONG* p_lId) {
  return MoveAndReadId(m_pQueryRowset.get(), tracesite::kMoveLast, &CKvDbRowset::MoveLast, p_lId);
}

HRESULT CKvDataPump::get_Value(BSTR p_pszField, VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kValue, [&] {
    if (m_pQueryRowset) ReadColumnValue(*m_pQueryRowset, p_pszField, pVal);
  });
}

HRESULT CKvDataPump::get_ValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kValueEx, [&] {
    if (!m_pQueryRowset) return;
    if (p_lLCID == 0) {
      ReadColumnValue(*m_pQueryRowset, p_pszField, pVal);
      return;
    }
    const std::string stored =
        m_pQueryRowset->GetField(ColumnKey(p_pszField))->GetStringValue();
    SetStringResult(pVal, TranslateMultiValue(m_mapLangTexts, Utf8FromBstr(p_pszField), stored,
                                              p_lLCID));
  });
}
