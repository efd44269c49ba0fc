// Neither the table-list parser nor the option translation ever fails on
// arbitrary text (which texts land in the map is tested on the database).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "src/common/LangTexts.h"
#include "src/common/QueryTableList.h"

namespace {

// Builds SQL-like text from pieces that exercise every keyword, separator
// and white-space rule, mixed with arbitrary bytes.
std::string RandomSqlText(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "SELECT ", "FROM", "from ", " WHERE ", "ORDER BY", "GROUP BY", "HAVING", " ON ", "on",
      "OUTER",   "JOIN", "LEFT",  "RIGHT",   "INNER",    ",",        " ",      "\n",   "\t",
      "krorder", "a",    "'",     "|",       "FRO",      "M",        "ORDER",  "BY"};
  std::uniform_int_distribution<int> count(0, 24);
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces));
  std::uniform_int_distribution<int> byte(0, 255);
  std::string text;
  for (int n = count(rng); n > 0; --n) {
    const size_t i = piece(rng);
    if (i == std::size(kPieces))
      text += static_cast<char>(byte(rng));
    else
      text += kPieces[i];
  }
  return text;
}

TEST(QueryTableListTest, ArbitraryTextNeverBreaksTheParserOrTheTranslation) {
  std::mt19937 rng(0x5EED2024u);
  CLangTextMap texts{{"f_a_1031", "<a>"}, {"f__1031", "<>"}, {"f_krorder_1031", "<krorder>"}};
  for (int i = 0; i < 100000; ++i) {
    const std::string text = RandomSqlText(rng);
    for (const std::string& name : QueryTableNames(text)) {
      ASSERT_EQ(name.find(','), std::string::npos) << text;
      ASSERT_EQ(name.find(' '), std::string::npos) << text;
    }

    // Without texts the stored value comes back with one trailing separator
    // dropped; an empty outcome gives the stored value itself.
    std::string expected = text;
    if (!expected.empty() && expected.back() == '|') expected.pop_back();
    if (expected.empty()) expected = text;
    ASSERT_EQ(TranslateMultiValue({}, "f", text, 1031), expected);
    // The texts hold no separator, so a translation keeps one separator
    // between each two tokens, or falls back to the stored value.
    const std::string translated = TranslateMultiValue(texts, "f", text, 1031);
    const auto separators = std::count(text.begin(), text.end(), '|');
    if (translated != text) {
      ASSERT_EQ(std::count(translated.begin(), translated.end(), '|'),
                separators - (text.back() == '|' ? 1 : 0))
          << text;
    }
  }
}

// The cursor tests cover the usual forms; these are the corners.
TEST(TranslateMultiValueTest, EmptyTokensAndEmptyTexts) {
  const CLangTextMap texts{{"s_2_1031", "open"}, {"s_7_1031", "closed"}, {"s_9_1031", ""}};
  EXPECT_EQ(TranslateMultiValue(texts, "s", "2||7", 1031), "open||closed");
  EXPECT_EQ(TranslateMultiValue(texts, "s", "9", 1031), "9");
  EXPECT_EQ(TranslateMultiValue(texts, "s", "9|2", 1031), "|open");
  EXPECT_EQ(TranslateMultiValue(texts, "s", "2", 1033), "2");
}

}  // namespace
