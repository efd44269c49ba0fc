// Field access: reading single values of the current record (always from
// the database, never from the store), comparing one, translating stored
// option lists, and the field value store that SaveFieldValues writes.
#include <new>

#include "../common/Format.h"
#include "../common/RowsetOpen.h"
#include "../common/Session.h"
#include "../common/VariantValues.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"
#include "ValueEquality.h"

namespace {

void CopyVariant(VARIANT* pDest, const VARIANT& source) {
  const HRESULT hr = VariantCopy(pDest, &source);
  if (FAILED(hr)) throw _com_error(hr);
}

// Hands the value of column 0 to the caller, unless it carries nothing, in
// which case the caller's default stays.
void TakeFirstColumnUnlessNoValue(CKvDbRowset& row, VARIANT* pVal) {
  CComVariant read = row.GetField(0)->GetValue();
  if (!IsNoValue(read)) read.Detach(pVal);
}

}  // namespace

HRESULT CKvDataPump::ValueByFieldName(BSTR p_pszField, VARIANT p_vDefault, VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kValueByFieldName, [&] {
    CopyVariant(pVal, p_vDefault);
    if (!ReadGuard()) return;
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(m_pSession.Get());
    CKvDbRowset rowset;
    ReadFirstRow(rowset, *connection,
                 Format("SELECT %s FROM %s WHERE lid=%d", Utf8FromBstr(p_pszField).c_str(),
                        m_strTable.c_str(), m_lId),
                 [&](CKvDbRowset& row) { TakeFirstColumnUnlessNoValue(row, pVal); });
  });
}

HRESULT CKvDataPump::CompareByFieldName(BSTR p_pszField, VARIANT p_vValue, VARIANT p_vTrueValue,
                                        VARIANT p_vFalseValue, VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kCompareByFieldName, [&] {
    CopyVariant(pVal, p_vFalseValue);
    if (!ReadGuard()) return;
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(m_pSession.Get());
    CKvDbRowset rowset;
    ReadFirstRow(rowset, *connection,
                 Format("SELECT %s FROM %s WHERE lid = %d", Utf8FromBstr(p_pszField).c_str(),
                        m_strTable.c_str(), m_lId),
                 [&](CKvDbRowset& row) {
                   const CComVariant value = row.GetField(0)->GetValue();
                   if (StrictVariantEquals(p_vValue, value)) CopyVariant(pVal, p_vTrueValue);
                 });
  });
}

HRESULT CKvDataPump::ValueByFieldNameEx(BSTR p_pszField, VARIANT p_vDefault, LONG p_lLCID,
                                        VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kValueByFieldNameEx, [&] {
    CopyVariant(pVal, p_vDefault);
    if (!ReadGuard()) return;
    if (p_lLCID == 0) {
      // The record's own row: exactly what the plain reader gives, whose
      // failures it reports itself.
      ValueByFieldName(p_pszField, p_vDefault, pVal);
      return;
    }
    const std::string field = Utf8FromBstr(p_pszField);
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(m_pSession.Get());

    // A field of the data table holds option identifiers to translate. When
    // the data table cannot give it (most often because the field is a
    // column of the language table), the language row is read instead, so
    // this failure is expected and not reported.
    try {
      CKvDbRowset rowset;
      std::string stored;
      if (!ReadFirstRow(
              rowset, *connection,
              Format("SELECT %s FROM %s WHERE lId=%d", field.c_str(), m_strTable.c_str(), m_lId),
              [&](CKvDbRowset& row) { stored = row.GetField(0)->GetStringValue(); }))
        return;
      CComVariant translated(TranslateMultiValue(m_mapLangTexts, field, stored, p_lLCID));
      if (translated.vt != VT_BSTR) throw _com_error(E_OUTOFMEMORY);
      translated.Detach(pVal);
      return;
    } catch (const CException&) {
    } catch (const std::bad_alloc&) {
    } catch (const _com_error&) {
    }

    CKvDbRowset rowset;
    ReadFirstRow(rowset, *connection,
                 Format("SELECT %s FROM %s WHERE lparentid=%d AND llcid=%d", field.c_str(),
                        m_strLangTable.c_str(), m_lId, p_lLCID),
                 [&](CKvDbRowset& row) { TakeFirstColumnUnlessNoValue(row, pVal); });
  });
}

// The store only ever appends: a second value for a name is a second entry,
// and whoever writes the entries in order leaves the last one in the row.
// Failures here are reported and leave the store as it was.
namespace {

HRESULT MakeFieldValue(BSTR p_pszField, const VARIANT& p_vData, std::unique_ptr<FieldValue>& out) {
  try {
    auto entry = std::make_unique<FieldValue>();
    entry->strName = Utf8FromBstr(p_pszField);
    // An own deep copy: the caller may free its strings and arrays at once.
    const HRESULT hr = VariantCopy(&entry->vValue, &p_vData);
    if (FAILED(hr)) {
      TraceComError(_com_error(hr), kSourceDataPump, tracesite::kMakeFieldValue + 1);
      return hr;
    }
    out = std::move(entry);
    return S_OK;
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), kSourceDataPump, tracesite::kMakeFieldValue + 2);
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT CKvDataPump::SetFieldValue(BSTR p_pszField, VARIANT p_vData) {
  std::unique_ptr<FieldValue> entry;
  const HRESULT hr = MakeFieldValue(p_pszField, p_vData, entry);
  if (FAILED(hr)) return hr;
  try {
    m_arrFields.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), kSourceDataPump, tracesite::kSetFieldValue + 1);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CKvDataPump::SetFieldValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT p_vData) {
  // LCID 0 is the record's own row; no language list is ever made for it.
  if (p_lLCID == 0) return SetFieldValue(p_pszField, p_vData);
  std::unique_ptr<FieldValue> entry;
  const HRESULT hr = MakeFieldValue(p_pszField, p_vData, entry);
  if (FAILED(hr)) return hr;
  try {
    // A list enters the map only once it holds its first entry, so a failure
    // never leaves an empty or missing list behind.
    const auto it = m_mapLangFields.find(p_lLCID);
    if (it != m_mapLangFields.end()) {
      it->second->push_back(std::move(entry));
    } else {
      auto list = std::make_unique<FieldValueList>();
      list->push_back(std::move(entry));
      m_mapLangFields.emplace(p_lLCID, std::move(list));
    }
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), kSourceDataPump, tracesite::kSetFieldValueEx + 1);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CKvDataPump::CleanFieldValues() {
  // Entries own their values; freeing cannot fail.
  m_arrFields.clear();
  m_mapLangFields.clear();
  return S_OK;
}
