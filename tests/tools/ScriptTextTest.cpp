// Text between the script engine (each UTF-16 unit encoded on its own),
// BSTRs and page output: the boundaries of each encoded length, characters
// outside the basic plane both ways, lone surrogates and broken bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "bridge/ScriptText.h"

using namespace std::literals;

namespace {

std::string ScriptText(std::u16string_view units) { return Utf16ToScriptText(units.data(), units.size()); }

TEST(ScriptText, EveryUnitIsEncodedOnItsOwnAtTheBoundariesOfEachLength) {
  const std::pair<std::u16string_view, std::string_view> cases[] = {
      {u"\0"sv, "\0"sv},
      {u"\x7F", "\x7F"},
      {u"\x80", "\xC2\x80"},
      {u"\x7FF", "\xDF\xBF"},
      {u"\x800", "\xE0\xA0\x80"},
      {u"\xFFFF", "\xEF\xBF\xBF"},
      {u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},  // a pair: two sequences
      {u"\xDC00", "\xED\xB0\x80"},                    // a lone surrogate survives
      {u"a\xFC\x20AC", "a\xC3\xBC\xE2\x82\xAC"},
  };
  for (const auto& [units, text] : cases) {
    EXPECT_EQ(ScriptText(units), text) << text;
    EXPECT_EQ(ScriptTextToUtf16(text), units) << text;
  }
  // Every unit comes back as it went.
  for (char32_t u = 0; u <= 0xFFFF; ++u) {
    const char16_t unit = static_cast<char16_t>(u);
    ASSERT_EQ(ScriptTextToUtf16(ScriptText(std::u16string_view(&unit, 1))), std::u16string(1, unit))
        << static_cast<uint32_t>(u);
  }
}

TEST(ScriptTextToUtf16, FourByteUtf8IsAPairAndEachBrokenByteOneReplacement) {
  const std::pair<std::string_view, std::u16string_view> cases[] = {
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},  // the last code point
      {"a\0b"sv, u"a\0b"sv},
      // Broken, overlong or beyond U+10FFFF; what follows is never lost.
      {"a\xE2\x82" "b", u"a\xFFFD\xFFFD" "b"},
      {"\xF0\x9F\x98" "A", u"\xFFFD\xFFFD\xFFFD" "A"},
      {"\xC0\x80", u"\xFFFD\xFFFD"},
      {"\xE0\x80\x80", u"\xFFFD\xFFFD\xFFFD"},
      {"\xF0\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"\xF8\x88\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"\x80x\xFF", u"\xFFFDx\xFFFD"},
  };
  for (const auto& [text, units] : cases) EXPECT_EQ(ScriptTextToUtf16(text), units) << text;
}

TEST(ScriptTextToUtf8, PairsAreJoinedAndWhatIsNoCharacterBecomesAReplacement) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80"},  // from the engine
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},          // already joined
      {"\xED\xA0\xBD" "x", "\xEF\xBF\xBD" "x"},          // a high surrogate alone
      {"\xED\xB8\x80\xED\xA0\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // a pair the wrong way round
      {"\xFF", "\xEF\xBF\xBD"},
      {"plain \xC3\xBC", "plain \xC3\xBC"},
  };
  for (const auto& [text, utf8] : cases) EXPECT_EQ(ScriptTextToUtf8(text), utf8) << text;
}

}  // namespace
