#include "ValueEquality.h"

#include <cstring>

bool StrictVariantEquals(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
    case VT_BOOL:
      return a.iVal == b.iVal;
    case VT_I4:
    case VT_ERROR:
      return a.lVal == b.lVal;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      // Identity of the interface pointers, not of the objects behind them.
      return a.punkVal == b.punkVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_BSTR: {
      const UINT len = SysStringByteLen(a.bstrVal);
      return len == SysStringByteLen(b.bstrVal) &&
             (len == 0 || std::memcmp(a.bstrVal, b.bstrVal, len) == 0);
    }
    default:
      // Currency, dates, decimals, arrays and references never compare equal.
      return false;
  }
}
