#include "page/FormCoding.h"

#include "platform/com/AsciiCase.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string HtmlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (IsAsciiAlnum(static_cast<char>(c)) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool UrlDecode(std::string_view text, bool plusIsSpace, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      *out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      *out += ' ';
    } else {
      *out += c;
    }
  }
  return true;
}

NameValues ParseUrlEncoded(std::string_view text) {
  NameValues pairs;
  while (!text.empty()) {
    size_t amp = text.find('&');
    std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (pair.empty()) continue;
    size_t eq = pair.find('=');
    std::string name, value;
    if (!UrlDecode(pair.substr(0, eq), true, &name)) continue;
    if (eq != std::string_view::npos && !UrlDecode(pair.substr(eq + 1), true, &value)) continue;
    pairs.emplace_back(std::move(name), std::move(value));
  }
  return pairs;
}

bool JoinedValues(const NameValues& values, std::string_view name, std::string* out) {
  bool found = false;
  out->clear();
  for (const auto& [key, value] : values) {
    if (!EqualsIgnoringAsciiCase(key, name)) continue;
    if (found) *out += ", ";
    *out += value;
    found = true;
  }
  return found;
}
