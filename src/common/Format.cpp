#include "Format.h"

#include <cstdio>

std::string FormatV(const char* format, va_list args) {
  // Most texts (SQL statements, trace lines) are short: one formatting pass
  // into a stack buffer, and a second one only for the long ones.
  char buffer[256];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

std::string EscapeSqlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  return out;
}
