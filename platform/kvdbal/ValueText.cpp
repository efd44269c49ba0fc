#include "ValueText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "KvDbal.h"

namespace kvdbal {

std::string DateToText(DATE date) {
  KvDateParts p{};
  if (!PartsFromDate(date, &p))
    throw CKvDbException(DISP_E_OVERFLOW, "date value " + PlainDecimal(date) + " is out of range");
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

namespace {
bool ReadDigits(std::string_view& text, size_t count, int* out) {
  if (text.size() < count) return false;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  text.remove_prefix(count);
  *out = value;
  return true;
}
bool Expect(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}
}  // namespace

bool TextToDate(std::string_view text, DATE* out) {
  KvDateParts p{};
  if (!ReadDigits(text, 4, &p.year) || !Expect(text, '-') || !ReadDigits(text, 2, &p.month) ||
      !Expect(text, '-') || !ReadDigits(text, 2, &p.day))
    return false;
  if (!text.empty() && (text.front() == ' ' || text.front() == 'T')) {
    text.remove_prefix(1);
    if (!ReadDigits(text, 2, &p.hour) || !Expect(text, ':') || !ReadDigits(text, 2, &p.minute))
      return false;
    if (!text.empty() && text.front() == ':' && (text.remove_prefix(1), !ReadDigits(text, 2, &p.second)))
      return false;
  } else if (!text.empty()) {
    return false;
  }
  return DateFromParts(p, out);
}

std::string PlainDecimal(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (ec != std::errc()) return std::to_string(value);
  return std::string(buf, end);
}

long LongFromInteger(int64_t value) {
  if (!FitsLong(value))
    throw CKvDbException(DISP_E_OVERFLOW, "value " + std::to_string(value) + " does not fit a long");
  return static_cast<long>(value);
}

void SetIntegerVariant(int64_t value, bool small, VARIANT* out) {
  if (small && value >= std::numeric_limits<SHORT>::min() && value <= std::numeric_limits<SHORT>::max()) {
    out->vt = VT_I2;
    out->iVal = static_cast<SHORT>(value);
  } else if (FitsLong(value)) {
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(value);
  } else {
    out->vt = VT_R8;
    out->dblVal = static_cast<double>(value);
  }
}

void SetBytesVariant(std::string_view bytes, VARIANT* out) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) throw CKvDbException(E_OUTOFMEMORY, "out of memory for a binary value");
  if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = array;
}

void SetTextVariant(std::string_view utf8, VARIANT* out) {
  // Most stored text is ASCII: widen it straight into the BSTR.
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  BSTR text = nullptr;
  if (ascii) {
    text = SysAllocStringLen(nullptr, static_cast<UINT>(utf8.size()));
    if (text)
      for (size_t i = 0; i < utf8.size(); ++i) text[i] = static_cast<OLECHAR>(utf8[i]);
  } else {
    text = BstrFromUtf8(utf8);
  }
  if (!text) throw CKvDbException(E_OUTOFMEMORY, "out of memory for a text value");
  out->vt = VT_BSTR;
  out->bstrVal = text;
}

std::string_view BytesOfArray(const SAFEARRAY* array) {
  if (!array || array->cDims != 1 || !array->pvData) return {};
  return std::string_view(static_cast<const char*>(array->pvData),
                          static_cast<size_t>(array->rgsabound[0].cElements) * array->cbElements);
}

long LongFromVariant(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return 0;
    case VT_I4:
      return value.lVal;
    case VT_I2:
      return value.iVal;
    case VT_BOOL:
      return value.boolVal ? 1 : 0;  // as the engines store flags
    default:
      break;
  }
  CComVariant converted;
  HRESULT hr = VariantChangeType(&converted, &value, 0, VT_I4);
  if (FAILED(hr)) {
    throw CKvDbException(hr, "value '" + StringFromVariant(value) + "' cannot be read as a number");
  }
  return converted.lVal;
}

const VARIANT* TryDereference(const VARIANT& v, CComVariant* holder) {
  if (!(v.vt & VT_BYREF)) return &v;
  if (FAILED(VariantCopyInd(holder, &v))) return nullptr;
  return holder;
}

const VARIANT& Dereference(const VARIANT& v, CComVariant* holder) {
  if (!(v.vt & VT_BYREF)) return v;
  const HRESULT hr = VariantCopyInd(holder, &v);
  if (FAILED(hr)) throw CKvDbException(hr, "cannot read a value given by reference");
  return *holder;
}

std::string StringFromVariant(const VARIANT& value) {
  CComVariant deref;
  const VARIANT* v = TryDereference(value, &deref);
  if (!v) return {};
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_BSTR:
      return Utf8FromBstr(v->bstrVal);
    case VT_I2:
      return std::to_string(v->iVal);
    case VT_I4:
      return std::to_string(v->lVal);
    case VT_I8:
      return std::to_string(v->llVal);
    case VT_UI1:
      return std::to_string(v->bVal);
    case VT_R4:
      return PlainDecimal(v->fltVal);
    case VT_R8:
      return PlainDecimal(v->dblVal);
    case VT_BOOL:
      return v->boolVal ? "1" : "0";
    case VT_DATE:
      return DateToText(v->date);
    case VT_ARRAY | VT_UI1:
      return std::string(BytesOfArray(v->parray));
    default: {
      CComVariant text;
      HRESULT hr = VariantChangeType(&text, v, 0, VT_BSTR);
      if (FAILED(hr)) throw CKvDbException(hr, "value of type " + std::to_string(v->vt) + " has no text form");
      return Utf8FromBstr(text.bstrVal);
    }
  }
}

}  // namespace kvdbal
