// printf-style formatting into std::string: SQL texts and trace lines are
// built from fixed templates with the C runtime's rules.
#pragma once

#include <cstdarg>
#include <string>

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// A text to place between single quotes in SQL: every ' doubled, so that a
// stored value such as "O'Neil.pdf" stays one literal.
std::string EscapeSqlText(const std::string& text);
