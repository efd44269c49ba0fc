// Byte-wise ASCII case mapping. Keyword searches in SQL texts work on a
// case-mapped copy and apply the positions they find to the original, so
// the copy must keep every byte position: no locale, no multi-byte mapping.
#pragma once

#include <string>

inline std::string UpperAscii(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

inline std::string LowerAscii(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}
