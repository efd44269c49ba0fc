#include "KvDataPump.h"

// The field value store: SetFieldValue / SetFieldValueEx append, CleanFieldValues empties.

HRESULT CKvDataPump::SetFieldValue(BSTR p_pszField, VARIANT p_vData) {
  auto entry = std::make_unique<FieldValue>();
  entry->strName = Utf8FromBstr(p_pszField);
  entry->vValue = p_vData;
  m_arrFields.push_back(std::move(entry));
  return S_OK;
}

HRESULT CKvDataPump::SetFieldValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT p_vData) {
  if (p_lLCID == 0) return SetFieldValue(p_pszField, p_vData);
  auto entry = std::make_unique<FieldValue>();
  entry->strName = Utf8FromBstr(p_pszField);
  entry->vValue = p_vData;
  auto& list = m_mapLangFields[p_lLCID];
  if (!list) list = std::make_unique<FieldValueList>();
  list->push_back(std::move(entry));
  return S_OK;
}

HRESULT CKvDataPump::CleanFieldValues() {
  m_arrFields.clear();
  m_mapLangFields.clear();
  return S_OK;
}

// Reading field values: owned by the record pump core.
HRESULT CKvDataPump::ValueByFieldName(BSTR, VARIANT, VARIANT*) { return E_NOTIMPL; }
HRESULT CKvDataPump::CompareByFieldName(BSTR, VARIANT, VARIANT, VARIANT, VARIANT*) { return E_NOTIMPL; }
HRESULT CKvDataPump::ValueByFieldNameEx(BSTR, VARIANT, LONG, VARIANT*) { return E_NOTIMPL; }
