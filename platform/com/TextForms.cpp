#include "TextForms.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kvcom {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly 1..maxDigits digits at text[pos].
bool ReadField(std::string_view text, size_t& pos, int maxDigits, int* value) {
  int digits = 0;
  int v = 0;
  while (pos < text.size() && IsDigit(text[pos]) && digits < maxDigits) {
    v = v * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  if (digits == 0) return false;
  *value = v;
  return true;
}

// The power of ten of the first significant digit of a well-formed unsigned
// decimal text ("123" 2, "0.05" -2, "1e400" 400). Only the sign matters to
// the caller. Digit counts are bounded by the text's length; the exponent is
// saturated far beyond any text length, so its sum with them keeps its sign.
long long DecimalOrder(std::string_view digits) {
  constexpr long long kExponentLimit = 1'000'000'000'000'000LL;
  size_t pos = 0;
  long long order = 0;
  long long integerDigits = 0;
  for (; pos < digits.size() && IsDigit(digits[pos]); ++pos)
    if (integerDigits > 0 || digits[pos] != '0') ++integerDigits;
  if (integerDigits > 0) {
    order = integerDigits - 1;
  } else if (pos < digits.size() && digits[pos] == '.') {
    while (++pos < digits.size() && digits[pos] == '0') --order;
    --order;
  }
  while (pos < digits.size() && digits[pos] != 'e' && digits[pos] != 'E') ++pos;
  if (pos < digits.size()) {
    ++pos;
    const bool negativeExponent = pos < digits.size() && digits[pos] == '-';
    if (pos < digits.size() && (digits[pos] == '+' || digits[pos] == '-')) ++pos;
    long long exponent = 0;
    for (; pos < digits.size(); ++pos)
      exponent = std::min(exponent * 10 + (digits[pos] - '0'), kExponentLimit);
    order += negativeExponent ? -exponent : exponent;
  }
  return order;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

NumberParse ParseNumber(std::string_view text, ParsedNumber* out) {
  text = TrimBlanks(text);
  if (text.empty()) return NumberParse::NotANumber;
  // Validate the shape ourselves: from_chars alone would accept "inf", "nan"
  // and hex forms, and would not accept a leading '+'.
  size_t pos = 0;
  bool negative = false;
  if (text[pos] == '+' || text[pos] == '-') {
    negative = text[pos] == '-';
    ++pos;
  }
  const size_t digitsStart = pos;
  size_t intDigits = 0, fracDigits = 0;
  while (pos < text.size() && IsDigit(text[pos])) ++pos, ++intDigits;
  bool integerForm = true;
  if (pos < text.size() && text[pos] == '.') {
    integerForm = false;
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return NumberParse::NotANumber;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    integerForm = false;
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    size_t expDigits = 0;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, ++expDigits;
    if (expDigits == 0) return NumberParse::NotANumber;
  }
  if (pos != text.size()) return NumberParse::NotANumber;

  const std::string_view unsignedPart = text.substr(digitsStart);
  if (integerForm) {
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(unsignedPart.data(), unsignedPart.data() + unsignedPart.size(), magnitude);
    (void)end;
    const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
    if (ec == std::errc() && magnitude <= limit) {
      out->isInteger = true;
      out->integer = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
      out->real = static_cast<double>(out->integer);
      return NumberParse::Ok;
    }
  }
  double value = 0;
  auto [end, ec] = std::from_chars(unsignedPart.data(), unsignedPart.data() + unsignedPart.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone when it is out of range, so the text
    // tells which side: too small underflows to 0, too large fails.
    if (DecimalOrder(unsignedPart) >= 0) return NumberParse::OutOfRange;
    value = 0.0;
  } else if (ec != std::errc()) {
    return NumberParse::NotANumber;
  }
  out->isInteger = false;
  out->integer = 0;
  out->real = negative ? -value : value;
  return NumberParse::Ok;
}

std::string FormatReal(double value, int digits) {
  if (value == 0) return "0";
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
  if (ec != std::errc()) return "0";
  std::string text(buffer, end);
  // to_chars switches to the exponent form at the same magnitudes printf's %G
  // does; write it the way automation clients expect: "1E+20", "1E-05".
  for (char& c : text)
    if (c == 'e') c = 'E';
  return text;
}

std::string FormatDateText(const KvDateParts& p) {
  char buffer[40];
  if (p.hour == 0 && p.minute == 0 && p.second == 0)
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.year, p.month, p.day);
  else
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  return buffer;
}

bool ParseDateText(std::string_view text, KvDateParts* out) {
  text = TrimBlanks(text);
  size_t pos = 0;
  KvDateParts p{};
  if (!ReadField(text, pos, 4, &p.year)) return false;
  if (pos >= text.size() || (text[pos] != '-' && text[pos] != '/')) return false;
  const char separator = text[pos++];
  if (!ReadField(text, pos, 2, &p.month)) return false;
  if (pos >= text.size() || text[pos++] != separator) return false;
  if (!ReadField(text, pos, 2, &p.day)) return false;
  if (pos < text.size()) {
    if (text[pos] == 'T') {
      ++pos;
    } else {
      if (text[pos] != ' ') return false;
      while (pos < text.size() && text[pos] == ' ') ++pos;
    }
    if (!ReadField(text, pos, 2, &p.hour)) return false;
    if (pos >= text.size() || text[pos++] != ':') return false;
    if (!ReadField(text, pos, 2, &p.minute)) return false;
    if (pos < text.size()) {
      if (text[pos++] != ':') return false;
      if (!ReadField(text, pos, 2, &p.second)) return false;
    }
    if (pos != text.size()) return false;
  }
  *out = p;
  return true;
}

}  // namespace kvcom
