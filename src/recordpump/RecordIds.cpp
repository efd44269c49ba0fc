#include "RecordIds.h"

#include <climits>
#include <cmath>

#include "../common/Format.h"

namespace {

bool IsEmptyText(const VARIANT& value) {
  if (value.vt == VT_BSTR) return SysStringLen(value.bstrVal) == 0;
  if (value.vt == (VT_BSTR | VT_BYREF)) return !value.pbstrVal || SysStringLen(*value.pbstrVal) == 0;
  return false;
}

}  // namespace

LONG IdOfValue(const VARIANT& value, const char* fieldName) {
  if (value.vt == VT_I4) return value.lVal;
  if (value.vt == VT_EMPTY || value.vt == VT_NULL || IsEmptyText(value)) return -1;
  // Through a double, so that "1.5" or 1.5 is refused instead of rounded.
  CComVariant number;
  const HRESULT hr = VariantChangeType(&number, &value, 0, VT_R8);
  if (FAILED(hr) || !std::isfinite(number.dblVal) || std::trunc(number.dblVal) != number.dblVal ||
      number.dblVal < INT_MIN || number.dblVal > INT_MAX) {
    throw CException(Format("The value of %s is no whole number in the id range", fieldName));
  }
  return static_cast<LONG>(number.dblVal);
}

LONG IdAfter(LONG largest, const std::string& table) {
  if (largest == INT_MAX) throw CException(Format("No id is left in %s after %d", table.c_str(), largest));
  return largest + 1;
}
