#include "ColumnFit.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "SqlText.h"
#include "ValueText.h"

namespace kvdbal {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool IsIntegerText(std::string_view text, long long* out) {
  const std::string copy(Trimmed(text));
  if (copy.empty()) return false;
  errno = 0;
  char* end = nullptr;
  *out = std::strtoll(copy.c_str(), &end, 10);
  return errno == 0 && end && *end == '\0';
}

bool IsNumberText(std::string_view text, double* out) {
  const std::string copy(Trimmed(text));
  if (copy.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(copy.c_str(), &end);
  return end && *end == '\0' && std::isfinite(*out);
}

bool IsBooleanText(std::string_view text) {
  text = Trimmed(text);
  for (std::string_view word : {"0", "1", "true", "false", "t", "f", "yes", "no", "on", "off"})
    if (EqualsIgnoringAsciiCase(text, word)) return true;
  return false;
}

bool IsNumeric(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

[[noreturn]] void Refuse(HRESULT hr, const std::string& column, const std::string& why) {
  throw CKvDbException(hr, "column " + column + " cannot take " + why);
}

void CheckInteger(const VARIANT& value, double low, double high, const std::string& column) {
  if (value.vt == VT_BSTR) {
    const std::string text = StringFromVariant(value);
    long long number = 0;
    if (!IsIntegerText(text, &number)) Refuse(DISP_E_TYPEMISMATCH, column, "the text '" + text + "'");
    if (number < low || number > high) Refuse(DISP_E_OVERFLOW, column, text);
    return;
  }
  if (!IsNumeric(value.vt)) Refuse(DISP_E_TYPEMISMATCH, column, "a value of this type");
  CComVariant number;
  if (FAILED(VariantChangeType(&number, &value, 0, VT_R8))) Refuse(DISP_E_TYPEMISMATCH, column, "this value");
  if (std::trunc(number.dblVal) != number.dblVal) Refuse(DISP_E_TYPEMISMATCH, column, "a fraction");
  if (number.dblVal < low || number.dblVal > high) Refuse(DISP_E_OVERFLOW, column, PlainDecimal(number.dblVal));
}

}  // namespace

void CheckValueFitsColumn(const VARIANT& given, ValueKind kind, const std::string& column) {
  CComVariant deref;
  const VARIANT* v = TryDereference(given, &deref);
  if (!v) Refuse(DISP_E_TYPEMISMATCH, column, "this reference");
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) return;
  if (v->vt == VT_ERROR || v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN ||
      ((v->vt & VT_ARRAY) && v->vt != (VT_ARRAY | VT_UI1)))
    Refuse(DISP_E_TYPEMISMATCH, column, "a value of this type");
  const bool bytes = v->vt == (VT_ARRAY | VT_UI1);
  switch (kind) {
    case ValueKind::ByValue:
    case ValueKind::Text:
    case ValueKind::Binary:
      return;
    case ValueKind::SmallInt:
      if (bytes) Refuse(DISP_E_TYPEMISMATCH, column, "bytes");
      return CheckInteger(*v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max(), column);
    case ValueKind::Integer:
      if (bytes) Refuse(DISP_E_TYPEMISMATCH, column, "bytes");
      return CheckInteger(*v, -9223372036854775808.0, 9223372036854775807.0, column);
    case ValueKind::Real: {
      double number = 0;
      if (IsNumeric(v->vt)) return;
      if (v->vt == VT_BSTR && IsNumberText(StringFromVariant(*v), &number)) return;
      Refuse(DISP_E_TYPEMISMATCH, column, v->vt == VT_BSTR ? "the text '" + StringFromVariant(*v) + "'" : "this value");
    }
    case ValueKind::Boolean:
      if (IsNumeric(v->vt)) return;
      if (v->vt == VT_BSTR && IsBooleanText(StringFromVariant(*v))) return;
      Refuse(DISP_E_TYPEMISMATCH, column, "this value as a flag");
    case ValueKind::Date: {
      DATE date = 0;
      if (v->vt == VT_DATE) return;
      if (v->vt == VT_BSTR && TextToDate(Trimmed(StringFromVariant(*v)), &date)) return;
      Refuse(DISP_E_TYPEMISMATCH, column, v->vt == VT_BSTR ? "the text '" + StringFromVariant(*v) + "' as a date" : "this value as a date");
    }
  }
}

}  // namespace kvdbal
