#include "state/VariantCodec.h"

#include <cstdint>
#include <cstring>

namespace {

// Arrays inside arrays deeper than this are refused rather than recursed.
constexpr int kMaxDepth = 32;

template <typename T>
void PutRaw(const T& value, std::string* out) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out->append(bytes, sizeof(T));
}

template <typename T>
bool TakeRaw(std::string_view* in, T* value) {
  if (in->size() < sizeof(T)) return false;
  std::memcpy(value, in->data(), sizeof(T));
  in->remove_prefix(sizeof(T));
  return true;
}

// Size of the scalar payload of a type, 0 for types that are not plain scalars.
size_t ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: return 8;
    default: return 0;
  }
}

bool EncodeAt(const VARIANT& value, std::string* out, int depth);
bool DecodeAt(std::string_view* in, VARIANT* out, int depth);

// A string written as its length in UTF-16 units and the units; copied out
// first, since the bytes in the stream need not be aligned for char16_t.
bool TakeBstr(std::string_view* in, BSTR* out) {
  uint32_t units = 0;
  if (!TakeRaw(in, &units) || in->size() / sizeof(char16_t) < units) return false;
  std::u16string text(units, u'\0');
  std::memcpy(text.data(), in->data(), units * sizeof(char16_t));
  in->remove_prefix(units * sizeof(char16_t));
  *out = SysAllocStringLen(text.data(), units);
  return *out != nullptr;
}

bool EncodeArray(SAFEARRAY* array, std::string* out, int depth) {
  VARTYPE element = 0;
  LONG lower = 0, upper = -1;
  if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &element)) ||
      FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
    return false;
  const size_t scalar = ScalarSize(element);
  if (element != VT_VARIANT && element != VT_BSTR && scalar == 0) return false;
  PutRaw<uint16_t>(element, out);
  PutRaw<int32_t>(lower, out);
  const uint32_t count = upper >= lower ? static_cast<uint32_t>(upper - lower + 1) : 0;
  PutRaw<uint32_t>(count, out);
  const char* data = static_cast<const char*>(array->pvData);
  for (uint32_t i = 0; i < count; ++i) {
    if (element == VT_VARIANT) {
      if (!EncodeAt(reinterpret_cast<const VARIANT*>(data)[i], out, depth + 1)) return false;
    } else if (element == VT_BSTR) {
      BSTR text = reinterpret_cast<const BSTR*>(data)[i];
      const uint32_t units = text ? SysStringLen(text) : 0;
      PutRaw<uint32_t>(units, out);
      out->append(reinterpret_cast<const char*>(text), units * sizeof(char16_t));
    } else {
      out->append(data + i * scalar, scalar);
    }
  }
  return true;
}

bool DecodeArray(std::string_view* in, VARIANT* out, int depth) {
  uint16_t element = 0;
  int32_t lower = 0;
  uint32_t count = 0;
  if (!TakeRaw(in, &element) || !TakeRaw(in, &lower) || !TakeRaw(in, &count)) return false;
  const size_t scalar = ScalarSize(element);
  if (element != VT_VARIANT && element != VT_BSTR && scalar == 0) return false;
  // Every element takes at least one byte, so a count beyond the bytes
  // left is a broken record, not a reason to allocate.
  if (count > in->size()) return false;
  SAFEARRAY* array = SafeArrayCreateVector(element, lower, count);
  if (!array) return false;
  // The output owns the array from here, so a broken element frees it.
  out->vt = static_cast<VARTYPE>(VT_ARRAY | element);
  out->parray = array;
  char* data = static_cast<char*>(array->pvData);
  for (uint32_t i = 0; i < count; ++i) {
    if (element == VT_VARIANT) {
      if (!DecodeAt(in, &reinterpret_cast<VARIANT*>(data)[i], depth + 1)) return false;
    } else if (element == VT_BSTR) {
      if (!TakeBstr(in, &reinterpret_cast<BSTR*>(data)[i])) return false;
    } else {
      if (in->size() < scalar) return false;
      std::memcpy(data + i * scalar, in->data(), scalar);
      in->remove_prefix(scalar);
    }
  }
  return true;
}

bool EncodeAt(const VARIANT& value, std::string* out, int depth) {
  if (depth > kMaxDepth || (value.vt & VT_BYREF)) return false;
  PutRaw<uint16_t>(value.vt, out);
  if (value.vt & VT_ARRAY) return EncodeArray(value.parray, out, depth);
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_BSTR: {
      const uint32_t units = value.bstrVal ? SysStringLen(value.bstrVal) : 0;
      PutRaw<uint32_t>(units, out);
      out->append(reinterpret_cast<const char*>(value.bstrVal), units * sizeof(char16_t));
      return true;
    }
    default:
      break;
  }
  const size_t scalar = ScalarSize(value.vt);
  if (scalar == 0) return false;
  // Scalars sit at the start of the value union whatever their width.
  out->append(reinterpret_cast<const char*>(&value.llVal), scalar);
  return true;
}

bool DecodeAt(std::string_view* in, VARIANT* out, int depth) {
  uint16_t vt = 0;
  if (depth > kMaxDepth || !TakeRaw(in, &vt)) return false;
  if (vt & VT_ARRAY) return DecodeArray(in, out, depth);
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      out->vt = vt;
      return true;
    case VT_BSTR: {
      if (!TakeBstr(in, &out->bstrVal)) return false;
      out->vt = VT_BSTR;
      return true;
    }
    default:
      break;
  }
  const size_t scalar = ScalarSize(vt);
  if (scalar == 0 || in->size() < scalar) return false;
  out->llVal = 0;
  std::memcpy(&out->llVal, in->data(), scalar);
  in->remove_prefix(scalar);
  out->vt = vt;
  return true;
}

}  // namespace

bool EncodeVariant(const VARIANT& value, std::string* out) { return EncodeAt(value, out, 0); }

bool DecodeVariant(std::string_view* in, VARIANT* out) {
  VariantInit(out);
  if (DecodeAt(in, out, 0)) return true;
  VariantClear(out);
  return false;
}

void EncodeText(std::string_view text, std::string* out) {
  PutRaw<uint32_t>(static_cast<uint32_t>(text.size()), out);
  out->append(text);
}

bool DecodeText(std::string_view* in, std::string* out) {
  uint32_t size = 0;
  if (!TakeRaw(in, &size) || in->size() < size) return false;
  out->assign(in->data(), size);
  in->remove_prefix(size);
  return true;
}

void EncodeNumber(int64_t number, std::string* out) { PutRaw(number, out); }
bool DecodeNumber(std::string_view* in, int64_t* out) { return TakeRaw(in, out); }

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

bool BytesOfHex(std::string_view text, std::string* out) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2) return false;
  out->clear();
  out->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}
