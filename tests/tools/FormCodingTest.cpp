// The codings of query strings, form bodies and page output: broken
// escapes, '+' in paths and forms, every byte through a round trip, and
// the order and repetition of form fields.
#include <cctype>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "page/FormCoding.h"

using namespace std::literals;

namespace {

TEST(FormCoding, UrlDecodeRefusesBrokenEscapesAndTakesPlusAsSpaceOnlyInForms) {
  struct Case {
    std::string_view text;
    bool plusIsSpace;
    const char* expected;  // nullptr: refused
  };
  const Case cases[] = {
      {"a+b", true, "a b"},         {"a+b", false, "a+b"},
      {"%2B+%2b", true, "+ +"},     // an escaped plus stays a plus
      {"%41%62", false, "Ab"},      {"%c3%BC", false, "\xC3\xBC"},
      {"%252e", false, "%2e"},      // decoded once only
      {"", false, ""},              {"%", false, nullptr},
      {"abc%", false, nullptr},     {"%4", false, nullptr},
      {"a%4", false, nullptr},      {"%zz", false, nullptr},
      {"%4g", false, nullptr},      {"%g4", false, nullptr},
      {"%%41", false, nullptr},     {"% 41", false, nullptr},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(UrlDecode(c.text, c.plusIsSpace, &out), c.expected != nullptr) << c.text;
    if (c.expected) {
      EXPECT_EQ(out, c.expected) << c.text;
    }
  }
  std::string out;
  ASSERT_TRUE(UrlDecode("a%00b", false, &out));
  EXPECT_EQ(out, "a\0b"sv);
}

TEST(FormCoding, UrlEncodeEscapesEveryByteButUnreservedOnesAndDecodesBack) {
  EXPECT_EQ(UrlEncode("a b&c/\xC3\xBC~-_.*=+%"), "a+b%26c%2F%C3%BC~-_.%2A%3D%2B%25");
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  const std::string encoded = UrlEncode(every);
  for (char c : encoded)
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("-_.~+%").find(c) != std::string::npos)
        << static_cast<int>(static_cast<unsigned char>(c));
  std::string decoded;
  ASSERT_TRUE(UrlDecode(encoded, true, &decoded));
  EXPECT_EQ(decoded, every);
}

TEST(FormCoding, HtmlEncodeEscapesWhatCanEndATextOrAnAttribute) {
  EXPECT_EQ(HtmlEncode("<a href=\"x\" title='y'>&amp;</a>"),
            "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(HtmlEncode("plain \xC3\xBC text\n"), "plain \xC3\xBC text\n");
  EXPECT_EQ(HtmlEncode(""), "");
}

TEST(FormCoding, ParseUrlEncodedKeepsOrderAndRepeatsAndLeavesOutBrokenPairs) {
  const std::pair<std::string_view, NameValues> cases[] = {
      {"a=1&b=2&a=3", {{"a", "1"}, {"b", "2"}, {"a", "3"}}},
      {"&&a=1&", {{"a", "1"}}},
      {"a&b=", {{"a", ""}, {"b", ""}}},
      {"=1", {{"", "1"}}},
      {"a=1=2", {{"a", "1=2"}}},
      {"a%3D=b%26c", {{"a=", "b&c"}}},
      {"x+y=1+2%2B3", {{"x y", "1 2+3"}}},
      {"a=%zz&b=2&%=1&c=%4", {{"b", "2"}}},
      {"a=1;b=2", {{"a", "1;b=2"}}},
      {"", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseUrlEncoded(text), expected) << text;
}

TEST(FormCoding, JoinedValuesIgnoresAsciiCaseOnlyAndTellsEmptyFromMissing) {
  const NameValues values = {{"Color", "red"}, {"size", ""}, {"COLOR", "blue"}, {"\xC0", "upper"}, {"color", "x, y"}};
  std::string out = "stale";
  ASSERT_TRUE(JoinedValues(values, "color", &out));
  EXPECT_EQ(out, "red, blue, x, y");
  ASSERT_TRUE(JoinedValues(values, "SIZE", &out));
  EXPECT_EQ(out, "");
  // Bytes of other characters are compared as they are, whatever the locale.
  EXPECT_FALSE(JoinedValues(values, "\xE0", &out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(JoinedValues(values, "colo", &out));
  EXPECT_FALSE(JoinedValues(values, "", &out));
}

}  // namespace
