#include "VariantValues.h"

bool IsNoValue(const VARIANT& value) {
  return value.vt == VT_EMPTY || value.vt == VT_NULL || value.vt == VT_UNKNOWN ||
         value.vt == (VT_BYREF | VT_UNKNOWN);
}

void SetStringResult(VARIANT* pVal, const std::string& text) {
  VariantClear(pVal);
  BSTR bstr = BstrFromUtf8(text);
  if (!bstr) throw _com_error(E_OUTOFMEMORY);
  pVal->vt = VT_BSTR;
  pVal->bstrVal = bstr;
}

void CopyValueResult(VARIANT* pVal, const VARIANT& value) {
  ThrowIfFailed(VariantCopy(pVal, &value));
}

void SetValueOrEmptyString(VARIANT* pVal, const VARIANT& value) {
  if (IsNoValue(value))
    SetStringResult(pVal, std::string());
  else
    CopyValueResult(pVal, value);
}
