// Locale-independent text forms of numbers and dates used when variants
// change type (internal to platform/com). A decimal point is always '.',
// whatever locale the process has set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "OleAuto.h"

namespace kvcom {

// A parsed number: exact when it was an integer literal, else a double.
struct ParsedNumber {
  bool isInteger;
  int64_t integer;
  double real;
};

enum class NumberParse { Ok, NotANumber, OutOfRange };

// Parses a decimal number with optional surrounding blanks, sign, fraction
// and exponent. NotANumber for anything else (including the empty text);
// OutOfRange for a magnitude beyond the largest double, while one too small
// for a double reads as 0.
NumberParse ParseNumber(std::string_view text, ParsedNumber* out);

// Shortest text of the value with at most `digits` significant digits;
// exponent form ("1E+20") only for very large or small magnitudes.
std::string FormatReal(double value, int digits);

// "YYYY-MM-DD HH:MM:SS", or "YYYY-MM-DD" when the time is midnight.
std::string FormatDateText(const KvDateParts& parts);

// Accepts "YYYY-MM-DD", optionally followed by a blank or 'T' and "HH:MM" or
// "HH:MM:SS"; '/' may separate the date parts; surrounding blanks are ignored.
// Checks only the shape; DateFromParts validates the values.
bool ParseDateText(std::string_view text, KvDateParts* out);

std::string_view TrimBlanks(std::string_view text);

}  // namespace kvcom
