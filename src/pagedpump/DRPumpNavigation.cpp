// Walking the page and reading values: thin steps over the open result.
// Every failure of the access layer (no current row, an unknown column, a
// result that is not open) goes to the caller as its own result code.
#include "../common/VariantValues.h"
#include "../diagnostics/Frames.h"
#include "KvDRPump.h"

HRESULT CKvDRPump::MoveNext() {
  return StandardFrame(kSourceDRPump, tracesite::kDRMoveNext, [&] {
    m_rowset.MoveNext();
    return S_OK;
  });
}

HRESULT CKvDRPump::get_IsEOF(LONG* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDRPump, tracesite::kDRIsEOF, [&] {
    *pVal = m_rowset.IsEOF() ? 1 : 0;
    return S_OK;
  });
}

HRESULT CKvDRPump::Close() {
  return StandardFrame(kSourceDRPump, tracesite::kDRClose, [&] {
    m_rowset.Close();
    return S_OK;
  });
}

// Unlike the record pump's cursor, the paged pump hands values out with
// their own type: a database NULL stays VT_NULL.
HRESULT CKvDRPump::get_Value(BSTR p_bstrField, VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDRPump, tracesite::kDRValue, [&] {
    const std::string field = Utf8FromBstr(p_bstrField);
    CopyValueResult(pVal, m_rowset.GetField(field.c_str())->GetValue());
    return S_OK;
  });
}

HRESULT CKvDRPump::MoveFirst() {
  return StandardFrame(kSourceDRPump, tracesite::kDRMoveFirst, [&] {
    m_rowset.MoveFirst();
    return S_OK;
  });
}

HRESULT CKvDRPump::MoveLast() {
  return StandardFrame(kSourceDRPump, tracesite::kDRMoveLast, [&] {
    m_rowset.MoveLast();
    return S_OK;
  });
}

HRESULT CKvDRPump::MovePrevious() {
  return StandardFrame(kSourceDRPump, tracesite::kDRMovePrevious, [&] {
    m_rowset.MovePrev();
    return S_OK;
  });
}

HRESULT CKvDRPump::get_IsBOF(LONG* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDRPump, tracesite::kDRIsBOF, [&] {
    *pVal = m_rowset.IsBOF() ? 1 : 0;
    return S_OK;
  });
}

HRESULT CKvDRPump::get_ValueEx(BSTR p_bstrField, LONG p_lLCID, VARIANT* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDRPump, tracesite::kDRValueEx, [&] {
    const std::string field = Utf8FromBstr(p_bstrField);
    if (p_lLCID == 0) {
      CopyValueResult(pVal, m_rowset.GetField(field.c_str())->GetValue());
      return S_OK;
    }
    const std::string stored = m_rowset.GetField(field.c_str())->GetStringValue();
    const std::string text = TranslateMultiValue(m_mapLangTexts, field, stored, p_lLCID);
    // A string that cannot be allocated leaves the result empty; the page
    // gets S_OK all the same, as it always has.
    VariantClear(pVal);
    if (BSTR bstr = BstrFromUtf8(text)) {
      pVal->vt = VT_BSTR;
      pVal->bstrVal = bstr;
    }
    return S_OK;
  });
}
