// Translating stored multi-values: the cursor tests cover the usual forms;
// these are the corners.
#include <gtest/gtest.h>

#include "src/common/LangTexts.h"

namespace {

TEST(TranslateMultiValueTest, EmptyTokensAndEmptyTexts) {
  const CLangTextMap texts{{"s_2_1031", "open"}, {"s_7_1031", "closed"}, {"s_9_1031", ""}};
  EXPECT_EQ(TranslateMultiValue(texts, "s", "2||7", 1031), "open||closed");
  EXPECT_EQ(TranslateMultiValue(texts, "s", "9", 1031), "9");
  EXPECT_EQ(TranslateMultiValue(texts, "s", "9|2", 1031), "|open");
  EXPECT_EQ(TranslateMultiValue(texts, "s", "2", 1033), "2");
}

}  // namespace
