#include "VarTypeInfo.h"

#include "Unknwn.h"

namespace kvcom {

size_t ElementSize(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_DATE:
    case VT_CY:
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(IUnknown*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

bool IsValidVariantType(VARTYPE vt) {
  if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY) return ElementSize(base) != 0;
  if (base == VT_EMPTY || base == VT_NULL) return (vt & VT_BYREF) == 0;
  // A VARIANT holds another VARIANT only by reference.
  if (base == VT_VARIANT) return (vt & VT_BYREF) != 0;
  return ElementSize(base) != 0;
}

}  // namespace kvcom
