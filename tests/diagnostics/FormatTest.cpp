// printf-style formatting into std::string around the length where the
// formatter switches from its stack buffer to a second pass.
#include <gtest/gtest.h>

#include <string>

#include "src/common/Format.h"

TEST(FormatTest, TextsOfEveryLengthComeOutWhole) {
  EXPECT_EQ("SELECT strno FROM krorder WHERE lid=7",
            Format("SELECT %s FROM %s WHERE lid=%d", "strno", "krorder", 7));
  EXPECT_EQ("", Format("%s", ""));
  for (size_t length : {254u, 255u, 256u, 257u, 100000u}) {
    const std::string text(length, 'x');
    EXPECT_EQ("<" + text + ">", Format("<%s>", text.c_str())) << length;
  }
}
