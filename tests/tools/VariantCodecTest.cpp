// The typed form kept values take in a shared state database: every type a
// page can keep reads back as itself, and bytes that are not such a form
// are refused rather than read as something else.
#include <string>

#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "state/VariantCodec.h"
#include "tests/fixture/Bytes.h"

namespace {

CComVariant RoundTrip(const VARIANT& value) {
  std::string bytes;
  EXPECT_TRUE(EncodeVariant(value, &bytes));
  std::string back;
  EXPECT_TRUE(BytesOfHex(HexOf(bytes), &back));
  std::string_view in = back;
  CComVariant out;
  EXPECT_TRUE(DecodeVariant(&in, &out));
  EXPECT_TRUE(in.empty());
  return out;
}

TEST(VariantCodec, ScalarsKeepTheirTypeAndValue) {
  CComVariant wide;
  wide.vt = VT_I8;
  wide.llVal = -(int64_t{1} << 40);
  EXPECT_EQ(RoundTrip(wide).llVal, wide.llVal);
  EXPECT_EQ(RoundTrip(wide).vt, VT_I8);

  CComVariant small;
  small.vt = VT_I2;
  small.iVal = -7;
  EXPECT_EQ(RoundTrip(small).vt, VT_I2);
  EXPECT_EQ(RoundTrip(small).iVal, -7);

  CComVariant date;
  date.vt = VT_DATE;
  date.date = 45293.5;
  EXPECT_EQ(RoundTrip(date).vt, VT_DATE);
  EXPECT_DOUBLE_EQ(RoundTrip(date).date, 45293.5);

  EXPECT_EQ(RoundTrip(CComVariant::Bool(true)).boolVal, VARIANT_TRUE);
  CComVariant null;
  null.vt = VT_NULL;
  EXPECT_EQ(RoundTrip(null).vt, VT_NULL);

  // Every UTF-16 unit, a NUL and a lone surrogate included.
  const char16_t units[] = {u'a', 0, 0xD800, u'\'', u'z'};
  CComVariant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringLen(units, 5);
  CComVariant back = RoundTrip(text);
  ASSERT_EQ(back.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(back.bstrVal, SysStringLen(back.bstrVal)), std::u16string(units, 5));
}

TEST(VariantCodec, ArraysKeepBoundsElementTypesAndNesting) {
  const CComVariant inner = BytesVariant(std::string_view("\0\0\xff", 3));

  SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  VariantCopy(&static_cast<VARIANT*>(outer->pvData)[0], &inner);
  CComVariant x(std::string_view("x"));
  VariantCopy(&static_cast<VARIANT*>(outer->pvData)[1], &x);
  CComVariant value;
  value.vt = VT_ARRAY | VT_VARIANT;
  value.parray = outer;

  CComVariant back = RoundTrip(value);
  ASSERT_EQ(back.vt, VT_ARRAY | VT_VARIANT);
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(back.parray, 1, &lower);
  SafeArrayGetUBound(back.parray, 1, &upper);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 2);
  const VARIANT& first = static_cast<VARIANT*>(back.parray->pvData)[0];
  ASSERT_EQ(first.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(static_cast<unsigned char*>(first.parray->pvData)[2], 0xFF);
  EXPECT_EQ(static_cast<VARIANT*>(back.parray->pvData)[1].vt, VT_BSTR);
}

TEST(VariantCodec, WhatCannotBeKeptOrReadIsRefused) {
  CComVariant object;
  object.vt = VT_DISPATCH;
  object.pdispVal = nullptr;
  std::string bytes;
  EXPECT_FALSE(EncodeVariant(object, &bytes));

  // A cut-off string, an array claiming more elements than there are
  // bytes, and hex that is not hex.
  CComVariant text(std::string_view("hello"));
  std::string whole;
  ASSERT_TRUE(EncodeVariant(text, &whole));
  for (size_t cut = 1; cut < whole.size(); ++cut) {
    std::string_view in(whole.data(), cut);
    CComVariant out;
    EXPECT_FALSE(DecodeVariant(&in, &out)) << cut;
    EXPECT_EQ(out.vt, VT_EMPTY);
  }
  std::string huge;
  huge.append("\x0c\x20", 2);          // VT_ARRAY | VT_VARIANT
  huge.append("\0\0\0\0", 4);          // lower bound
  huge.append("\xff\xff\xff\x7f", 4);  // count
  std::string_view in = huge;
  CComVariant out;
  EXPECT_FALSE(DecodeVariant(&in, &out));
  std::string ignored;
  EXPECT_FALSE(BytesOfHex("0g", &ignored));
  EXPECT_FALSE(BytesOfHex("abc", &ignored));
}

}  // namespace
