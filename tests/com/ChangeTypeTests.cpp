#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <tuple>

#include "platform/com/ComPtr.h"

namespace {

CComVariant Text(const char* s) { return CComVariant(std::string_view(s)); }

// Converts a copy of v; returns the HRESULT and leaves the result in *out.
HRESULT Change(const VARIANT& v, VARTYPE vt, CComVariant* out) {
  return VariantChangeType(out, &v, 0, vt);
}

// The value v changes to, which must have the type asked for.
CComVariant To(const VARIANT& v, VARTYPE vt) {
  CComVariant out;
  EXPECT_EQ(Change(v, vt, &out), S_OK) << "to " << vt;
  EXPECT_EQ(out.vt, vt);
  return out;
}

std::string AsText(const VARIANT& v) {
  const CComVariant out = To(v, VT_BSTR);
  return out.vt == VT_BSTR ? Utf8FromBstr(out.bstrVal) : "<not a string>";
}

TEST(ChangeType, StringsToNumbersParseLocaleIndependently) {
  // A comma locale, where one is installed, must not change how "1.5" reads
  // or how 1.5 writes.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(To(Text("12"), VT_I4).lVal, 12);
  EXPECT_EQ(To(Text("  -12\t"), VT_I2).iVal, -12);
  EXPECT_EQ(To(Text("1.5"), VT_R8).dblVal, 1.5);
  EXPECT_EQ(To(Text("+2.5e2"), VT_R4).fltVal, 250.0f);
  EXPECT_EQ(AsText(CComVariant(1.5)), "1.5");
  EXPECT_EQ(To(Text("9223372036854775807"), VT_I8).llVal, INT64_MAX);  // exact, not through a double
  std::setlocale(LC_NUMERIC, previous.c_str());

  for (const char* bad : {"", "  ", "abc", "12abc", "1,5", "--1", ".", "1e", "inf", "nan", "0x10"}) {
    CComVariant untouched(LONG{99});
    EXPECT_EQ(Change(Text(bad), VT_I4, &untouched), DISP_E_TYPEMISMATCH) << bad;
    EXPECT_EQ(untouched.lVal, 99) << "a failed change leaves the destination alone";
  }
}

TEST(ChangeType, FractionsRoundHalfToEvenAndRangesOverflow) {
  struct Case {
    double in;
    LONG out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5001, 3}};
  for (const Case& c : cases) EXPECT_EQ(To(CComVariant(c.in), VT_I4).lVal, c.out) << c.in;
  EXPECT_EQ(To(Text("3.5"), VT_I4).lVal, 4);
  CComVariant out;

  const std::pair<CComVariant, VARTYPE> overflows[] = {
      {CComVariant(LONG{32768}), VT_I2}, {CComVariant(LONG{-32769}), VT_I2}, {CComVariant(LONG{256}), VT_UI1},
      {CComVariant(LONG{-1}), VT_UI1}, {CComVariant(2147483647.5), VT_I4}, {Text("2147483648"), VT_I4},
      {Text("99999999999999999999"), VT_I8}, {CComVariant(1e300), VT_R4}, {CComVariant(1e300), VT_DATE},
  };
  for (const auto& [in, vt] : overflows) EXPECT_EQ(Change(in, vt, &out), DISP_E_OVERFLOW) << vt;
  EXPECT_EQ(To(CComVariant(LONG{-32768}), VT_I2).iVal, -32768);
  EXPECT_EQ(To(CComVariant(2147483647.4), VT_I4).lVal, 2147483647);

  // Number texts beyond the double range overflow for every numeric target;
  // texts too small for a double read as 0.
  const std::string manyDigits = "1" + std::string(400, '0');
  // Long digit runs against an exponent of nearly their length.
  const std::string longHuge = "1" + std::string(150000, '0') + "e-149000";
  const std::string longTiny = "0." + std::string(150000, '0') + "1e149000";
  for (const std::string& huge : {std::string("1e400"), std::string(" -1E+400 "), manyDigits, longHuge,
                                  std::string("0.001e312"), std::string("9e99999999999999999999")}) {
    for (VARTYPE vt : {VT_R8, VT_R4, VT_BOOL, VT_I4, VT_CY}) {
      CComVariant untouched(LONG{99});
      EXPECT_EQ(Change(Text(huge.c_str()), vt, &untouched), DISP_E_OVERFLOW) << huge.substr(0, 20) << " to " << vt;
      EXPECT_EQ(untouched.lVal, 99) << huge.substr(0, 20);
    }
  }
  for (const std::string& tiny : {std::string("1e-400"), std::string("-0.0001e-330"),
                                  std::string("0.5e-99999999999999999999"), longTiny})
    EXPECT_EQ(To(Text(tiny.c_str()), VT_R8).dblVal, 0.0) << tiny.substr(0, 20);
  EXPECT_EQ(To(Text("1.7e308"), VT_R8).dblVal, 1.7e308);
}

TEST(ChangeType, EmptyNullAndBooleans) {
  CComVariant empty;
  EXPECT_EQ(To(empty, VT_I4).lVal, 0);
  EXPECT_EQ(AsText(empty), "");
  EXPECT_EQ(To(empty, VT_BOOL).boolVal, VARIANT_FALSE);
  To(empty, VT_NULL);

  const CComVariant null = CComVariant::Null();
  CComVariant out;
  for (VARTYPE vt : {VT_I2, VT_I4, VT_R8, VT_BSTR, VT_BOOL, VT_DATE, VT_UI1, VT_I8})
    EXPECT_EQ(Change(null, vt, &out), DISP_E_TYPEMISMATCH) << vt;
  To(null, VT_NULL);
  To(null, VT_EMPTY);
  // Anything becomes empty; nothing but empty becomes null.
  To(Text("x"), VT_EMPTY);
  EXPECT_EQ(Change(CComVariant(LONG{1}), VT_NULL, &out), DISP_E_TYPEMISMATCH);

  EXPECT_EQ(AsText(CComVariant::Bool(true)), "True");
  EXPECT_EQ(AsText(CComVariant::Bool(false)), "False");
  for (const char* yes : {"true", "True", " TRUE ", "tRuE", "1", "-1", "2.5"})
    EXPECT_EQ(To(Text(yes), VT_BOOL).boolVal, VARIANT_TRUE) << yes;
  for (const char* no : {"false", "FALSE", "0", "0.0"}) EXPECT_EQ(To(Text(no), VT_BOOL).boolVal, VARIANT_FALSE) << no;
  EXPECT_EQ(Change(Text("yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(To(CComVariant::Bool(true), VT_I4).lVal, -1);
  EXPECT_EQ(To(CComVariant(LONG{7}), VT_BOOL).boolVal, VARIANT_TRUE);
}

TEST(Dates, PartsRoundTripIncludingDatesBeforeTheEpoch) {
  struct Case {
    KvDateParts parts;
    DATE date;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0}, 0.0},
      {{1899, 12, 31, 12, 0, 0}, 1.5},
      {{1900, 1, 1, 0, 0, 0}, 2.0},
      {{1899, 12, 29, 6, 0, 0}, -1.25},  // the fraction counts forward from midnight
      {{1899, 12, 28, 18, 0, 0}, -2.75},
      {{100, 1, 1, 0, 0, 0}, -657434.0},
      {{9999, 12, 31, 0, 0, 0}, 2958465.0},
      {{2000, 2, 29, 0, 0, 0}, 36585.0},
  };
  for (const Case& c : cases) {
    DATE date = 0;
    ASSERT_TRUE(DateFromParts(c.parts, &date)) << c.date;
    EXPECT_DOUBLE_EQ(date, c.date);
    KvDateParts back{};
    ASSERT_TRUE(PartsFromDate(c.date, &back)) << c.date;
    const auto fields = [](const KvDateParts& p) {
      return std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second);
    };
    EXPECT_EQ(fields(back), fields(c.parts)) << c.date;
  }
  // Between -1 and 0 the day is still 1899-12-30.
  KvDateParts p{};
  ASSERT_TRUE(PartsFromDate(-0.5, &p));
  EXPECT_EQ(p.day, 30);
  EXPECT_EQ(p.hour, 12);
  // A fraction a hair below midnight rounds to the next day, not 24:00:00.
  ASSERT_TRUE(PartsFromDate(1.0 - 1e-9, &p));
  EXPECT_EQ(p.day, 31);
  EXPECT_EQ(p.hour, 0);

  DATE d;
  EXPECT_FALSE(DateFromParts({1900, 2, 29, 0, 0, 0}, &d));
  EXPECT_FALSE(DateFromParts({99, 12, 31, 0, 0, 0}, &d));
  EXPECT_FALSE(DateFromParts({2020, 1, 1, 0, 60, 0}, &d));
  EXPECT_FALSE(PartsFromDate(2958466.0, &p));
  EXPECT_FALSE(PartsFromDate(std::nan(""), &p));

  // Now lies in this century and converts back to parts.
  ASSERT_TRUE(PartsFromDate(DateNowLocal(), &p));
  EXPECT_GE(p.year, 2024);
}

}  // namespace
