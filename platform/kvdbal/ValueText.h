// Conversions between engine values, VARIANTs and text that every backend
// shares: date text, plain decimal numbers, byte arrays, and the long and
// string readings of a VARIANT.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "../com/ComPtr.h"

namespace kvdbal {

// "YYYY-MM-DD HH:MM:SS"; raises CKvDbException for a date out of range.
std::string DateToText(DATE date);
// Reads "YYYY-MM-DD", optionally followed by ' ' or 'T' and "HH:MM[:SS[.fff]]"
// (anything after the seconds, such as a time zone, is ignored).
bool TextToDate(std::string_view text, DATE* out);

// A number in plain decimal notation, never with an exponent, as short as
// reads back to the same double.
std::string PlainDecimal(double value);

// Whether an engine's integer fits a LONG (VT_I4, the server's int4).
constexpr bool FitsLong(int64_t value) { return value >= -2147483647 - 1 && value <= 2147483647; }
// value as a LONG; raises CKvDbException(DISP_E_OVERFLOW) when it does not fit.
long LongFromInteger(int64_t value);

// An integer as VT_I4 when it fits, otherwise VT_R8 (VT_I2 for small = true
// when it fits in 16 bits).
void SetIntegerVariant(int64_t value, bool small, VARIANT* out);
// A VT_ARRAY|VT_UI1 holding bytes; raises CKvDbException when memory runs out.
void SetBytesVariant(std::string_view bytes, VARIANT* out);
void SetTextVariant(std::string_view utf8, VARIANT* out);
// The bytes of a one-dimensional byte array.
std::string_view BytesOfArray(const SAFEARRAY* array);

// What a value given by reference (VT_BYREF) points at, copied into
// *holder; any other value is v itself. Dereference raises CKvDbException
// when the reference cannot be read, TryDereference answers nullptr.
const VARIANT& Dereference(const VARIANT& v, CComVariant* holder);
const VARIANT* TryDereference(const VARIANT& v, CComVariant* holder);

// 0 for NULL or EMPTY; raises CKvDbException(DISP_E_TYPEMISMATCH/OVERFLOW)
// when the value is no number.
long LongFromVariant(const VARIANT& value);
// "" for NULL or EMPTY, numbers in plain decimal, booleans "1"/"0", dates as
// DateToText, byte arrays as their bytes.
std::string StringFromVariant(const VARIANT& value);

}  // namespace kvdbal
