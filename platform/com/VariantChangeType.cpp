// VariantChangeType: conversion between the scalar variant types, strings
// and dates. Numbers are read and written without regard to the process
// locale; fractions round half to even on the way to an integer type.
#include <cfloat>
#include <cmath>
#include <limits>

#include "AsciiCase.h"
#include "OleAuto.h"
#include "TextForms.h"
#include "VarTypeInfo.h"

namespace {

using kvcom::ParsedNumber;

// Integer targets and their ranges.
struct IntegerRange {
  VARTYPE vt;
  int64_t min;
  int64_t max;
};

constexpr IntegerRange kIntegerTargets[] = {
    {VT_I1, -128, 127},
    {VT_UI1, 0, 255},
    {VT_I2, -32768, 32767},
    {VT_UI2, 0, 65535},
    {VT_I4, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()},
    {VT_INT, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()},
    {VT_UI4, 0, std::numeric_limits<uint32_t>::max()},
    {VT_UINT, 0, std::numeric_limits<uint32_t>::max()},
    {VT_I8, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()},
    {VT_UI8, 0, std::numeric_limits<int64_t>::max()},
};

const IntegerRange* IntegerTarget(VARTYPE vt) {
  for (const IntegerRange& r : kIntegerTargets)
    if (r.vt == vt) return &r;
  return nullptr;
}

bool IsNumericTarget(VARTYPE vt) {
  return IntegerTarget(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_BOOL || vt == VT_CY;
}

// The first date the type can hold (0100-01-01) and the day after the last
// (10000-01-01).
constexpr double kMinDate = -657434.0;
constexpr double kMaxDateExclusive = 2958466.0;

double RoundHalfEven(double d) {
  const double floor = std::floor(d);
  const double diff = d - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

ParsedNumber Integer(int64_t v) { return {true, v, static_cast<double>(v)}; }
ParsedNumber Real(double d) { return {false, 0, d}; }

// The numeric value of a by-value variant.
HRESULT NumberOf(const VARIANT& v, ParsedNumber* out) {
  switch (v.vt) {
    case VT_EMPTY: *out = Integer(0); return S_OK;
    case VT_I1: *out = Integer(v.cVal); return S_OK;
    case VT_UI1: *out = Integer(v.bVal); return S_OK;
    case VT_I2: *out = Integer(v.iVal); return S_OK;
    case VT_UI2: *out = Integer(v.uiVal); return S_OK;
    case VT_I4: *out = Integer(v.lVal); return S_OK;
    case VT_INT: *out = Integer(v.intVal); return S_OK;
    case VT_UI4: *out = Integer(v.ulVal); return S_OK;
    case VT_UINT: *out = Integer(v.uintVal); return S_OK;
    case VT_I8: *out = Integer(v.llVal); return S_OK;
    case VT_UI8: {
      const auto u = static_cast<uint64_t>(v.llVal);
      *out = u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? Integer(static_cast<int64_t>(u))
                                                                              : Real(static_cast<double>(u));
      return S_OK;
    }
    case VT_BOOL: *out = Integer(v.boolVal ? VARIANT_TRUE : VARIANT_FALSE); return S_OK;
    case VT_R4: *out = Real(v.fltVal); return S_OK;
    case VT_R8: *out = Real(v.dblVal); return S_OK;
    case VT_DATE: *out = Real(v.date); return S_OK;
    case VT_CY: *out = Real(static_cast<double>(v.cyVal.int64) / 10000.0); return S_OK;
    case VT_BSTR:
      switch (kvcom::ParseNumber(Utf8FromBstr(v.bstrVal), out)) {
        case kvcom::NumberParse::Ok: return S_OK;
        case kvcom::NumberParse::OutOfRange: return DISP_E_OVERFLOW;
        case kvcom::NumberParse::NotANumber: break;
      }
      return DISP_E_TYPEMISMATCH;
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToInteger(const ParsedNumber& n, const IntegerRange& range, int64_t* out) {
  if (n.isInteger) {
    if (n.integer < range.min || n.integer > range.max) return DISP_E_OVERFLOW;
    *out = n.integer;
    return S_OK;
  }
  if (std::isnan(n.real)) return DISP_E_OVERFLOW;
  const double r = RoundHalfEven(n.real);
  // Compare in double: range.max + 1 is a power of two, exactly representable.
  if (r < static_cast<double>(range.min) || r >= static_cast<double>(range.max) + 1.0) return DISP_E_OVERFLOW;
  *out = static_cast<int64_t>(r);
  return S_OK;
}

void StoreInteger(VARTYPE vt, int64_t value, VARIANT* out) {
  switch (vt) {
    case VT_I1: out->cVal = static_cast<signed char>(value); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(value); break;
    case VT_I2: out->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(value); break;
    case VT_I4: out->lVal = static_cast<LONG>(value); break;
    case VT_INT: out->intVal = static_cast<INT>(value); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(value); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(value); break;
    default: out->llVal = value; break;
  }
}

HRESULT FromNumber(const ParsedNumber& n, VARTYPE vt, VARIANT* out) {
  if (const IntegerRange* range = IntegerTarget(vt)) {
    int64_t value;
    const HRESULT hr = ToInteger(n, *range, &value);
    if (FAILED(hr)) return hr;
    StoreInteger(vt, value, out);
  } else if (vt == VT_R4) {
    if (std::isfinite(n.real) && std::fabs(n.real) > FLT_MAX) return DISP_E_OVERFLOW;
    out->fltVal = static_cast<float>(n.real);
  } else if (vt == VT_R8) {
    out->dblVal = n.real;
  } else if (vt == VT_BOOL) {
    out->boolVal = (n.isInteger ? n.integer != 0 : n.real != 0) ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vt == VT_DATE) {
    if (!(n.real >= kMinDate && n.real < kMaxDateExclusive)) return DISP_E_OVERFLOW;
    out->date = n.real;
  } else if (vt == VT_CY) {
    const double scaled = RoundHalfEven(n.real * 10000.0);
    if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) return DISP_E_OVERFLOW;
    out->cyVal.int64 = static_cast<int64_t>(scaled);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  return S_OK;
}

// The text of a by-value variant.
HRESULT TextOf(const VARIANT& v, std::string* out) {
  switch (v.vt) {
    case VT_EMPTY: out->clear(); return S_OK;
    case VT_BOOL: *out = v.boolVal ? "True" : "False"; return S_OK;
    case VT_R4: *out = kvcom::FormatReal(v.fltVal, 7); return S_OK;
    case VT_R8: *out = kvcom::FormatReal(v.dblVal, 15); return S_OK;
    case VT_CY: *out = kvcom::FormatReal(static_cast<double>(v.cyVal.int64) / 10000.0, 15); return S_OK;
    case VT_DATE: {
      KvDateParts parts;
      if (!PartsFromDate(v.date, &parts)) return DISP_E_OVERFLOW;
      *out = kvcom::FormatDateText(parts);
      return S_OK;
    }
    case VT_UI8: *out = std::to_string(static_cast<uint64_t>(v.llVal)); return S_OK;
    default: {
      ParsedNumber n;
      if (v.vt == VT_BSTR || FAILED(NumberOf(v, &n)) || !n.isInteger) return DISP_E_TYPEMISMATCH;
      *out = std::to_string(n.integer);
      return S_OK;
    }
  }
}

HRESULT ToBool(const VARIANT& v, VARIANT* out) {
  if (v.vt == VT_BSTR) {
    const std::string text = Utf8FromBstr(v.bstrVal);
    const std::string_view word = kvcom::TrimBlanks(text);
    const bool isTrue = EqualsIgnoringAsciiCase(word, "true");
    if (isTrue || EqualsIgnoringAsciiCase(word, "false")) {
      out->vt = VT_BOOL;
      out->boolVal = isTrue ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  ParsedNumber n;
  const HRESULT hr = NumberOf(v, &n);
  if (FAILED(hr)) return hr;
  return FromNumber(n, VT_BOOL, out);
}

HRESULT ToDate(const VARIANT& v, VARIANT* out) {
  if (v.vt == VT_BSTR) {
    KvDateParts parts;
    DATE date;
    if (!kvcom::ParseDateText(Utf8FromBstr(v.bstrVal), &parts) || !DateFromParts(parts, &date))
      return DISP_E_TYPEMISMATCH;
    out->vt = VT_DATE;
    out->date = date;
    return S_OK;
  }
  ParsedNumber n;
  const HRESULT hr = NumberOf(v, &n);
  if (FAILED(hr)) return hr;
  return FromNumber(n, VT_DATE, out);
}

HRESULT ToInterface(const VARIANT& v, VARTYPE vt, VARIANT* out) {
  if (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  out->vt = vt;
  out->punkVal = nullptr;
  if (!v.punkVal) return S_OK;
  const HRESULT hr = v.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                               reinterpret_cast<void**>(&out->punkVal));
  if (FAILED(hr)) {
    out->vt = VT_EMPTY;
    out->punkVal = nullptr;
    return hr == E_NOINTERFACE ? DISP_E_TYPEMISMATCH : hr;
  }
  return S_OK;
}

constexpr USHORT VARIANT_NOVALUEPROP = 0x1;

// The value of an object's default property (DISPID_VALUE), as automation
// clients read it when an object stands where a scalar is expected.
HRESULT DefaultValueOf(IDispatch* object, LCID lcid, VARIANT* out) {
  VariantInit(out);
  if (!object) return DISP_E_TYPEMISMATCH;
  DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
  const HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &noArgs, out, nullptr,
                                    nullptr);
  if (FAILED(hr)) {
    VariantClear(out);
    // Whatever kept the object from answering, it has no value to convert.
    return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
  }
  // A default property that yields another object is not a value.
  if (out->vt == VT_DISPATCH || out->vt == VT_UNKNOWN || (out->vt & (VT_BYREF | VT_ARRAY))) {
    VariantClear(out);
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// Converts a by-value source into a fresh variant of type vt.
HRESULT Convert(const VARIANT& v, VARTYPE vt, VARIANT* out) {
  VariantInit(out);
  if (v.vt == vt) return VariantCopy(out, &v);
  if (vt == VT_EMPTY) return S_OK;
  if (v.vt == VT_NULL || vt == VT_NULL) {
    if (vt == VT_NULL && v.vt == VT_EMPTY) {
      out->vt = VT_NULL;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (vt == VT_BSTR) {
    std::string text;
    const HRESULT hr = TextOf(v, &text);
    if (FAILED(hr)) return hr;
    out->bstrVal = BstrFromUtf8(text);
    if (!out->bstrVal) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
  }
  if (vt == VT_BOOL) return ToBool(v, out);
  if (vt == VT_DATE) return ToDate(v, out);
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) return ToInterface(v, vt, out);
  if (vt == VT_UI1 && v.vt == VT_BOOL) {
    // A true flag is all bits set, as in every integer type.
    out->vt = VT_UI1;
    out->bVal = v.boolVal ? 0xFF : 0;
    return S_OK;
  }
  if (!IsNumericTarget(vt)) return DISP_E_TYPEMISMATCH;
  ParsedNumber n;
  const HRESULT hr = NumberOf(v, &n);
  if (FAILED(hr)) return hr;
  return FromNumber(n, vt, out);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                            VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_POINTER;
  if (vt != VT_VARIANT && !kvcom::IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  if (!kvcom::IsValidVariantType(pvarSrc->vt)) return DISP_E_BADVARTYPE;

  // Work on a dereferenced copy so the source may be the destination, and so
  // a failure leaves the destination untouched.
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = VariantCopyInd(&value, pvarSrc);
  if (FAILED(hr)) return hr;
  if (value.vt == VT_DISPATCH && vt != VT_DISPATCH && vt != VT_UNKNOWN && vt != VT_EMPTY && vt != VT_VARIANT &&
      !(wFlags & VARIANT_NOVALUEPROP)) {
    VARIANT property;
    hr = DefaultValueOf(value.pdispVal, lcid, &property);
    VariantClear(&value);
    if (FAILED(hr)) return hr;
    value = property;
  }
  VARIANT result;
  if (vt == VT_VARIANT || (vt & (VT_BYREF | VT_ARRAY))) {
    // Only a change to the variant's own type is possible for these.
    if (vt != VT_VARIANT && vt != value.vt) {
      VariantClear(&value);
      return DISP_E_TYPEMISMATCH;
    }
    result = value;
    VariantInit(&value);
  } else {
    hr = Convert(value, vt, &result);
    VariantClear(&value);
    if (FAILED(hr)) {
      VariantClear(&result);
      return hr;
    }
  }
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
