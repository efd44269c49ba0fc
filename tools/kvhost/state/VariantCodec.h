// Kept values in a form that outlives the process: a VARIANT becomes a
// string of bytes that reads back as the same type and value (numbers keep
// their width, dates stay dates, strings keep every UTF-16 unit, arrays keep
// their bounds and element types). Stored as hex text, so no database sees
// a byte it could misread.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/com/OleAuto.h"

// Appends value to *out; false for what cannot be kept (objects, pointers,
// arrays of more than one dimension).
bool EncodeVariant(const VARIANT& value, std::string* out);
// Reads one value from the front of *in and moves past it; false when the
// bytes are not a value EncodeVariant wrote (out is then left empty).
bool DecodeVariant(std::string_view* in, VARIANT* out);

// Helpers for the other fields of a stored record.
void EncodeText(std::string_view text, std::string* out);
bool DecodeText(std::string_view* in, std::string* out);
void EncodeNumber(int64_t number, std::string* out);
bool DecodeNumber(std::string_view* in, int64_t* out);

std::string HexOf(std::string_view bytes);
// False when text is not an even number of hex digits.
bool BytesOfHex(std::string_view text, std::string* out);
