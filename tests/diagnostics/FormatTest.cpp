// printf-style formatting into std::string: the plain conversions written
// directly, everything else by the C runtime, around the length where that
// switches from its stack buffer to a second pass.
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

TEST(FormatTest, PlainConversionsAndTheRestAgreeWithTheCRuntime) {
  EXPECT_EQ("a=-2147483648 b=4294967295 c= 100% d=0",
            Format("a=%d b=%u c=%s 100%% d=%d", -2147483647 - 1, 4294967295u, "", 0));
  // A flag or width after %s or %d hands the whole text to the C runtime,
  // with every argument still in place.
  EXPECT_EQ("x=ab    y=007 z=0X00001F", Format("x=%-5s y=%03d z=%#08X", "ab", 7, 31u));
  EXPECT_EQ("tail %", Format("tail %%"));
  EXPECT_EQ("2.50 and 12", Format("%.2f and %d", 2.5, 12));
}
