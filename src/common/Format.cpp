#include "Format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

// The templates of SQL texts and trace lines use plain %s, %d and %u: those
// are written here directly, which costs a fraction of the C runtime's
// formatter. False, with out left half-written, for anything else (a flag,
// a width, another conversion): the caller then formats with vsnprintf.
bool FormatPlain(const char* format, va_list args, std::string& out) {
  // Room for the template and its values at once: growing a string past
  // its inline buffer step by step costs more than the formatting.
  out.reserve(std::strlen(format) + 48);
  const char* run = format;
  const char* p = format;
  for (; *p; ++p) {
    if (*p != '%') continue;
    out.append(run, static_cast<size_t>(p - run));
    char digits[24];
    switch (p[1]) {
      case 's': {
        const char* text = va_arg(args, const char*);
        out.append(text ? text : "(null)");
        break;
      }
      case 'd': {
        auto end = std::to_chars(digits, digits + sizeof digits, va_arg(args, int)).ptr;
        out.append(digits, static_cast<size_t>(end - digits));
        break;
      }
      case 'u': {
        auto end = std::to_chars(digits, digits + sizeof digits, va_arg(args, unsigned)).ptr;
        out.append(digits, static_cast<size_t>(end - digits));
        break;
      }
      case '%': out.push_back('%'); break;
      default: return false;
    }
    ++p;
    run = p + 1;
  }
  out.append(run, static_cast<size_t>(p - run));
  return true;
}

}  // namespace

std::string FormatV(const char* format, va_list args) {
  std::string out;
  va_list plain;
  va_copy(plain, args);
  const bool done = FormatPlain(format, plain, out);
  va_end(plain);
  if (done) return out;
  // Most other texts are short too: one formatting pass into a stack
  // buffer, and a second one only for the long ones.
  char buffer[256];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  out.assign(static_cast<size_t>(n), '\0');
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
