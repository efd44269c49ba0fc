// The table list of a query as the text loading sees it, and the property
// that neither the list parser nor the option translation ever fails on
// arbitrary text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "src/common/LangTexts.h"
#include "src/common/QueryTableList.h"

namespace {

using Names = std::vector<std::string>;

TEST(QueryTableListTest, FindsTablesTheWayTheLoaderAlwaysHas) {
  const struct {
    const char* sql;
    Names tables;
  } cases[] = {
      {"SELECT a.lid, b.strname FROM krfoo a, krbar b WHERE a.lid=b.lparentid ORDER BY a.lid",
       {"krfoo", "krbar"}},
      {"SELECT * FROM t1 LEFT OUTER JOIN t2 ON t1.lid=t2.lparentid", {"t1", "t2"}},
      {"select * from t1 right join t2 on t1.lid=t2.lparentid", {"t1", "t2"}},
      {"SELECT * FROM t1 INNER JOIN t2 ON t1.lid=t2.lparentid", {"t1", "t2"}},
      // Everything after the first ON is gone, a second join included.
      {"SELECT * FROM t1 JOIN t2 ON t1.lid=t2.lid JOIN t3 ON t2.lid=t3.lid", {"t1", "t2"}},
      // The letters ON inside the name end the list.
      {"SELECT lid FROM krappcontrol", {"krappc"}},
      {"SELECT lid FROM krorder GROUP BY lid HAVING COUNT(*) > 1", {"krorder"}},
      {"SELECT 1", {}},
      {"FROM krorder", {}},
      // The first FROM wins, even inside a column name.
      {"SELECT dtfromdate FROM krorder", {"date"}},
      // Only a blank ends a name; a line break stays part of it.
      {"SELECT o.lid FROM krorder\n o WHERE o.lid=1", {"krorder\n"}},
      {"SELECT * FROM\n\tkrorder ,  krorderline l\n", {"krorder", "krorderline"}},
  };
  for (const auto& c : cases) EXPECT_EQ(QueryTableNames(c.sql), c.tables) << c.sql;
}

TEST(QueryTableListTest, AnEmptyEntryStaysAnEmptyName) {
  EXPECT_EQ(QueryTableNames("SELECT * FROM a,,b"), (Names{"a", "", "b"}));
}

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

TEST(TranslateMultiValueTest, SeparatorsAndMissingTexts) {
  const CLangTextMap texts{
      {"strstate_2_1031", "open"}, {"strstate_7_1031", "closed"}, {"strstate_9_1031", ""}};
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "2|7", 1031), "open|closed");
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "2|8", 1031), "open|8");
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "2|", 1031), "open");
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "|2", 1031), "|open");
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "2||7", 1031), "open||closed");
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "9", 1031), "9");
  EXPECT_EQ(TranslateMultiValue(texts, "StrState", "2|7", 1031), "2|7");
  EXPECT_EQ(TranslateMultiValue(texts, "strstate", "2", 1033), "2");
}

}  // namespace
