// The script engine keeps strings as CESU-8: every UTF-16 code unit of a
// script string, surrogates included, encoded on its own. These conversions
// carry such text to and from the UTF-16 of BSTRs and the UTF-8 of the
// page's output without losing characters outside the basic plane.
#pragma once

#include <string>
#include <string_view>

// Invalid sequences become U+FFFD; four-byte UTF-8 sequences are accepted too.
std::u16string ScriptTextToUtf16(std::string_view text);
std::string Utf16ToScriptText(const char16_t* units, size_t count);
// Proper UTF-8 (surrogate pairs joined) for output.
std::string ScriptTextToUtf8(std::string_view text);
