#include "bridge/ScriptText.h"

#include <algorithm>

#include "platform/com/OleAuto.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes the sequence at text[i]; returns its length, 0 when it is invalid.
size_t DecodeOne(std::string_view text, size_t i, char32_t* out) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t left = text.size() - i;
  auto cont = [&](size_t k) { return static_cast<unsigned char>(text[i + k]) & 0x3F; };
  if (c < 0x80) {
    *out = c;
    return 1;
  }
  if ((c & 0xE0) == 0xC0 && left >= 2 && IsContinuation(text[i + 1])) {
    *out = ((c & 0x1F) << 6) | cont(1);
    return *out >= 0x80 ? 2 : 0;
  }
  if ((c & 0xF0) == 0xE0 && left >= 3 && IsContinuation(text[i + 1]) &&
      IsContinuation(text[i + 2])) {
    *out = ((c & 0x0F) << 12) | (cont(1) << 6) | cont(2);
    return *out >= 0x800 ? 3 : 0;
  }
  if ((c & 0xF8) == 0xF0 && left >= 4 && IsContinuation(text[i + 1]) &&
      IsContinuation(text[i + 2]) && IsContinuation(text[i + 3])) {
    *out = ((c & 0x07) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3);
    return (*out >= 0x10000 && *out <= 0x10FFFF) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::u16string ScriptTextToUtf16(std::string_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    size_t len = DecodeOne(text, i, &cp);
    if (len == 0) {
      units.push_back(kReplacement);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return units;
}

std::string Utf16ToScriptText(const char16_t* units, size_t count) {
  std::string text;
  text.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    char16_t u = units[i];
    if (u < 0x80) {
      text.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      text.push_back(static_cast<char>(0xC0 | (u >> 6)));
      text.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      text.push_back(static_cast<char>(0xE0 | (u >> 12)));
      text.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      text.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return text;
}

std::string ScriptTextToUtf8(std::string_view text) {
  // Names and most texts are ASCII, which reads the same in both forms.
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(text);
  std::u16string units = ScriptTextToUtf16(text);
  return Utf16ToUtf8(units.data(), units.size());
}
