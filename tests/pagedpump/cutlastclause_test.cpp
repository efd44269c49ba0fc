#include <gtest/gtest.h>

#include <random>

#include "src/pagedpump/KvDRPump.h"

namespace {

// The paged pump's count statements show the common cases.
TEST(CutLastClauseTest, TakesTheLastKeywordWrittenAsOneWord) {
  EXPECT_EQ(CutLastClause("SELECT * FROM (SELECT a FROM t Order By a) x order by b", "order by"),
            "SELECT * FROM (SELECT a FROM t Order By a) x ");
  EXPECT_EQ(CutLastClause("SELECT * FROM t WHERE s='x' ORDER BY y", "order by"),
            "SELECT * FROM t WHERE s='x' ");
  for (const char* text : {"SELECT * FROM t ORDER  BY y", "SELECT * FROM t ORDER\nBY y"})
    EXPECT_EQ(CutLastClause(text, "order by"), text);
}

TEST(CutLastClauseTest, AlwaysGivesAPrefixEndingBeforeTheKeyword) {
  static const char* const kPieces[] = {"order by", "ORDER BY", "'", " ", "x", "order", "by", "\n"};
  std::mt19937 rng(0xC0FFEEu);
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> count(0, 12);
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    for (int n = count(rng); n > 0; --n) text += kPieces[piece(rng)];
    const std::string cut = CutLastClause(text, "order by");
    ASSERT_EQ(text.compare(0, cut.size(), cut), 0) << text;
    if (cut.size() < text.size()) {
      std::string rest = text.substr(cut.size(), 8);
      for (char& c : rest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      ASSERT_EQ(rest, "order by") << text;
      ASSERT_EQ(text.find('\'', cut.size()), std::string::npos) << text;
    }
  }
}

}  // namespace
