// Text to number. Every text that reads as a number reads as the C library
// reads it (a value too small for a double may become 0); a text beyond the
// double range is an overflow there too; a text of number characters that
// is refused is one the C library does not read whole. The variant
// conversion answers each text as the parse does.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"
#include "platform/com/TextForms.h"

namespace {

struct CRead {
  double value;
  bool whole;  // the C library read the whole text
  bool range;  // it reported a range error
};

CRead ReadWithC(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  return {value, !text.empty() && end == text.c_str() + text.size(), errno == ERANGE};
}

void CheckVariant(const std::string& text, kvcom::NumberParse parse, const kvcom::ParsedNumber& number) {
  const CComVariant source{std::string_view(text)};
  // Not UTF-8: the variant holds another text.
  if (source.vt != VT_BSTR || Utf8FromBstr(source.bstrVal) != text) return;
  CComVariant real, integer;
  const HRESULT hr = VariantChangeType(&real, &source, 0, VT_R8);
  switch (parse) {
    case kvcom::NumberParse::Ok:
      FUZZ_CHECK(hr == S_OK && real.vt == VT_R8);
      FUZZ_CHECK(real.dblVal == number.real);
      break;
    case kvcom::NumberParse::OutOfRange: FUZZ_CHECK(hr == DISP_E_OVERFLOW); break;
    case kvcom::NumberParse::NotANumber: FUZZ_CHECK(hr == DISP_E_TYPEMISMATCH); break;
  }
  const HRESULT hrInt = VariantChangeType(&integer, &source, 0, VT_I4);
  if (parse != kvcom::NumberParse::Ok) FUZZ_CHECK(hrInt == hr);
  if (hrInt == S_OK) FUZZ_CHECK(integer.vt == VT_I4 && std::fabs(integer.lVal - number.real) <= 0.5);
  if (parse == kvcom::NumberParse::Ok && std::fabs(number.real) < 2147483647.0) FUZZ_CHECK(hrInt == S_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kvcom::ParsedNumber number{};
  const kvcom::NumberParse parse = kvcom::ParseNumber(text, &number);
  const std::string trimmed(kvcom::TrimBlanks(text));
  const bool numberCharsOnly =
      !trimmed.empty() && trimmed.find_first_not_of("0123456789+-.eE") == std::string::npos;

  const CRead c = ReadWithC(trimmed);
  switch (parse) {
    case kvcom::NumberParse::Ok:
      FUZZ_CHECK(numberCharsOnly && c.whole);
      if (number.isInteger) {
        FUZZ_CHECK(number.real == static_cast<double>(number.integer));
        FUZZ_CHECK(std::strtoll(trimmed.c_str(), nullptr, 10) == number.integer);
      } else {
        FUZZ_CHECK(number.real == c.value || (number.real == 0 && std::fabs(c.value) < 2.3e-308));
      }
      break;
    case kvcom::NumberParse::OutOfRange:
      FUZZ_CHECK(numberCharsOnly && c.whole && c.range && std::isinf(c.value));
      break;
    case kvcom::NumberParse::NotANumber:
      if (numberCharsOnly) FUZZ_CHECK(!c.whole);
      break;
  }
  if (size <= 64) CheckVariant(text, parse, number);
  return 0;
}
