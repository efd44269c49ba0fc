// Byte-wise ASCII case mapping. Keyword searches in SQL texts work on a
// case-mapped copy and apply the positions they find to the original, so
// the copy must keep every byte position: no locale, no multi-byte mapping.
#pragma once

#include <string>

inline char LowerAsciiChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The white space that parts words of an SQL text.
inline bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline std::string UpperAscii(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

inline std::string LowerAscii(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = LowerAsciiChar(c);
  return out;
}
