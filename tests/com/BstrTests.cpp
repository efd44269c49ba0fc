#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/ComPtr.h"

namespace {

TEST(Bstr, AllocationKeepsByteLengthPrefixAndTerminator) {
  const OLECHAR text[] = u"Hallo";
  BSTR b = SysAllocString(text);
  ASSERT_NE(b, nullptr);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 10u);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(b[5], u'\0');
  EXPECT_EQ(std::u16string(b), u"Hallo");
  SysFreeString(b);

  // Embedded zeros are part of the string; the length, not the first 0, counts.
  const OLECHAR withZero[] = {u'a', 0, u'b'};
  b = SysAllocStringLen(withZero, 3);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(b[2], u'b');
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);

  // Without a source the text is zero-filled, not garbage.
  b = SysAllocStringLen(nullptr, 4);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(b[i], u'\0');
  SysFreeString(b);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Bstr, ByteLengthMayBeOdd) {
  BSTR b = SysAllocStringByteLen("abc", 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 3u);
  EXPECT_EQ(SysStringLen(b), 1u);  // one whole character, the odd byte is not text
  const char* bytes = reinterpret_cast<const char*>(b);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(bytes[3], '\0');
  EXPECT_EQ(bytes[4], '\0');
  EXPECT_EQ(Utf8FromBstr(b), Utf16ToUtf8(b, 1));
  SysFreeString(b);

  b = SysAllocStringByteLen(nullptr, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 0u);
  EXPECT_EQ(b[0], u'\0');
  SysFreeString(b);
}

TEST(Bstr, ReAllocReplacesAndMayReuseOwnText) {
  BSTR b = SysAllocString(u"hello world");
  EXPECT_TRUE(SysReAllocString(&b, b + 6));
  EXPECT_EQ(std::u16string(b), u"world");
  SysFreeString(b);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

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
  // an encoded surrogate and a value above U+10FFFF.
  EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(Utf8ToUtf16("ab\xE6\x97"), u"ab\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  // A broken sequence does not swallow the valid character after it.
  EXPECT_EQ(Utf8ToUtf16("\xE6\x97"
                        "A"),
            u"\uFFFDA");
  // Latin-1 bytes (not UTF-8) survive as one replacement each.
  EXPECT_EQ(Utf8ToUtf16("M\xFC"
                        "nchen"),
            u"M\uFFFDnchen");
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

TEST(CComBSTR, OwnsCopiesAndMovesItsString) {
  CComBSTR a("K\xC3\xA4se");
  EXPECT_EQ(a.Length(), 4u);
  EXPECT_EQ(a.ToUtf8(), "K\xC3\xA4se");
  CComBSTR b(a);
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(b.ToUtf8(), a.ToUtf8());
  CComBSTR c(std::move(b));
  EXPECT_EQ(b.Get(), nullptr);
  EXPECT_EQ(c.ToUtf8(), "K\xC3\xA4se");
  c = a;
  c = CComBSTR(u"wide");
  EXPECT_EQ(c.ToUtf8(), "wide");
  // operator& frees the old string before handing out the slot.
  BSTR* slot = &c;
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(u"out");
  EXPECT_EQ(c.ToUtf8(), "out");
  BSTR raw = c.Detach();
  EXPECT_EQ(c.Get(), nullptr);
  CComBSTR d = CComBSTR::Attach(raw);
  EXPECT_EQ(d.ToUtf8(), "out");
  // An empty string is a real, zero-length BSTR, distinct from null.
  CComBSTR empty{std::string_view()};
  EXPECT_NE(empty.Get(), nullptr);
  EXPECT_EQ(empty.Length(), 0u);
}

}  // namespace
