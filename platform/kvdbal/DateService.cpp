#include "KvDbal.h"
#include "ValueText.h"

namespace {
std::string Quoted(const std::string& text, size_t offset, size_t count) {
  std::string literal;
  literal.reserve(count + 2);
  literal.push_back('\'');
  literal.append(text, offset, count);
  literal.push_back('\'');
  return literal;
}
}  // namespace

// Both engines read the same literals, so the server type does not change
// the text: mode 1 a date, mode 2 a time of day, mode 3 a date and time.
std::string CKvDbService::StringFromDATE(DATE date, int mode) const {
  std::string text = kvdbal::DateToText(date);  // "YYYY-MM-DD HH:MM:SS"
  switch (mode) {
    case 1:
      return Quoted(text, 0, 10);
    case 2:
      return Quoted(text, 11, 8);
    case 3:
      return Quoted(text, 0, text.size());
    default:
      throw CKvDbException(E_INVALIDARG, "unknown date mode " + std::to_string(mode));
  }
}
