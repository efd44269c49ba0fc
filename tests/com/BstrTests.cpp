#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/ComPtr.h"

namespace {

TEST(Utf, RoundTripsNonAsciiText) {
  const std::string samples[] = {
      "",
      "plain ascii",
      "Gr\xC3\xBC\xC3\x9F"
      "e aus M\xC3\xBCnchen \xC3\x84\xC3\x96\xC3\x9C",              // German umlauts and sharp s
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE4\xB8\xAD\xE6\x96\x87",  // CJK
      "smile \xF0\x9F\x98\x80 and \xF0\x9F\x8E\x89",                // emoji beyond the BMP
  };
  for (const std::string& s : samples) {
    BSTR b = BstrFromUtf8(s);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Utf8FromBstr(b), s);
    SysFreeString(b);
  }
  // Characters beyond the BMP become surrogate pairs.
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\xD83D\xDE00"));
  EXPECT_EQ(Utf8ToUtf16("\xC3\xA4"), std::u16string(u"\x00E4"));
  EXPECT_EQ(Utf8FromBstr(nullptr), "");
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacters) {
  // Stray continuation byte, truncated sequence at the end, overlong "/",
  // an encoded surrogate, a value above U+10FFFF, a broken sequence that must
  // not swallow the valid character after it, and Latin-1 (not UTF-8) bytes.
  const std::pair<const char*, std::u16string> cases[] = {
      {"a\x80z", u"a\uFFFDz"},
      {"ab\xE6\x97", u"ab\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xE6\x97" "A", u"\uFFFDA"},
      {"M\xFC" "nchen", u"M\uFFFDnchen"},
  };
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
}

TEST(Utf, BrokenSurrogatesConvertWithoutReadingPastTheLength) {
  const std::string replacement = "\xEF\xBF\xBD";
  const OLECHAR loneLow[] = {u'a', 0xDC00, u'b'};
  EXPECT_EQ(Utf16ToUtf8(loneLow, 3), "a" + replacement + "b");
  const OLECHAR loneHigh[] = {0xD83D, u'x'};
  EXPECT_EQ(Utf16ToUtf8(loneHigh, 2), replacement + "x");
  const OLECHAR reversed[] = {0xDE00, 0xD83D};
  EXPECT_EQ(Utf16ToUtf8(reversed, 2), replacement + replacement);

  // A BSTR whose length ends between the halves of a pair: the low half
  // sits in memory right after it but is not part of the string.
  const OLECHAR pair[] = {u'o', u'k', 0xD83D, 0xDE00};
  BSTR cut = SysAllocStringLen(pair, 3);
  EXPECT_EQ(Utf8FromBstr(cut), "ok" + replacement);
  SysFreeString(cut);

  // Heap copy of exactly the high surrogate: ASan catches any read past it.
  auto* exact = new OLECHAR[1]{0xD800};
  EXPECT_EQ(Utf16ToUtf8(exact, 1), replacement);
  delete[] exact;
  EXPECT_EQ(Utf16ToUtf8(nullptr, 5), "");
}

}  // namespace
