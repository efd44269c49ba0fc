// Reading and comparing field values of the current record, and the
// translation of stored option lists into a language.
#include <tuple>

#include "pump_fixtures.h"
#include "src/recordpump/ValueEquality.h"

namespace {

class CoreReadTest : public CorePumpTest {
 protected:
  void SetUp() override {
    CorePumpTest::SetUp();
    db->Exec("INSERT INTO krorder (lid, strno, strcolor, strstate, lamount, dblprice) "
             "VALUES (4, 'A-4', 'red|green|blue', '2', 17, 2.5)");
    db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid, strtitle) "
             "VALUES (1, 4, 1031, 'Titel'), (2, 4, 1033, NULL)");
    ASSERT_EQ(S_OK, Bind(kOrderEditForm));
    ASSERT_EQ(S_OK, pump->MoveTo(4));
  }
  void SetColor(const std::string& stored) {
    db->Exec("UPDATE krorder SET strcolor='" + stored + "' WHERE lid=4");
  }
};

// Language 0 reads like the plain reader.
TEST_F(CoreReadTest, ReadsTheCurrentRecordAndKeepsTheDefaultForNoValue) {
  EXPECT_EQ("A-4", TextOf(Read("strno")));
  for (const CComVariant& amount : {Read("lamount"), ReadEx("lamount", 0)}) {
    EXPECT_EQ(VT_I4, amount.vt);
    EXPECT_EQ(17, amount.lVal);
  }
  EXPECT_EQ("red|green|blue", TextOf(ReadEx("strcolor", 0)));
  // A select-list expression is as good as a column name.
  EXPECT_EQ(34, Read("lamount*2").lVal);
  // NULL in the database gives the caller's default, not a NULL.
  EXPECT_EQ("none", TextOf(Read("strmemo", Str("none"))));
  // The store is not consulted: a pending value is invisible until saved.
  Set("strno", Str("pending"));
  EXPECT_EQ("A-4", TextOf(Read("strno")));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreReadTest, ReadGuardReturnsDefaultsWithoutTouchingTheDatabase) {
  auto expectDefaultsOnly = [&](const char* why) {
    StatementCapture statements;
    EXPECT_EQ("dflt", TextOf(Read("strno", Str("dflt")))) << why;
    EXPECT_EQ("dflt", TextOf(ReadEx("strcolor", 1031, Str("dflt")))) << why;
    EXPECT_FALSE(Equals("strno", Str("A-4"))) << why;
    EXPECT_TRUE(statements.Statements().empty()) << why;
  };
  for (LONG id : {0, -5}) {
    ASSERT_EQ(S_OK, pump->MoveTo(id));
    expectDefaultsOnly("no current record");
  }
  ASSERT_EQ(S_OK, Bind(0));
  ASSERT_EQ(S_OK, pump->MoveTo(4));
  expectDefaultsOnly("unbound");

  ASSERT_EQ(S_OK, pump->Init(db->NewSession(1, false).Get(), kOrderEditForm));
  ASSERT_EQ(S_OK, pump->MoveTo(4));
  expectDefaultsOnly("session not valid");

  ASSERT_EQ(S_OK, pump->Init(nullptr, 0));
  ASSERT_EQ(S_OK, pump->MoveTo(4));
  expectDefaultsOnly("no session");
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreReadTest, ComparisonIsStrictOnTypeAndCase) {
  const std::tuple<const char*, CComVariant, bool> cases[] = {
      {"lamount", I4(17), true},     {"lamount", I2(17), false},   {"lamount", Str("17"), false},
      {"lamount", I4(18), false},    {"strno", Str("A-4"), true},  {"strno", Str("a-4"), false},
      {"strno", Str("A-4 "), false}, {"dblprice", CComVariant(2.5), true}, {"strmemo", CComVariant::Null(), true}};
  for (const auto& [field, value, equal] : cases)
    EXPECT_EQ(equal, Equals(field, value)) << field << " " << TextOf(value);
  ASSERT_EQ(S_OK, pump->MoveTo(5));  // no such row: the false value
  EXPECT_FALSE(Equals("strmemo", CComVariant::Null()));
}

// Strings compare by length and bytes: an embedded difference or a shared
// prefix is no match, a null and an empty string are; dates never match.
TEST(StrictVariantEqualsTest, StringsByLengthAndBytesDatesNever) {
  const OLECHAR withNul[] = {u'a', 0, u'b'};
  const OLECHAR withNul2[] = {u'a', 0, u'c'};
  CComVariant s1, s2, nullString;
  s1.vt = s2.vt = nullString.vt = VT_BSTR;
  s1.bstrVal = SysAllocStringLen(withNul, 3);
  s2.bstrVal = SysAllocStringLen(withNul2, 3);
  EXPECT_FALSE(StrictVariantEquals(s1, s2));
  EXPECT_FALSE(StrictVariantEquals(Str("ab"), Str("abc")));
  EXPECT_TRUE(StrictVariantEquals(nullString, Str("")));
  CComVariant date;
  date.vt = VT_DATE;
  date.date = 45000.5;
  EXPECT_FALSE(StrictVariantEquals(date, date));
  // The other types compare by value, and only within their own type.
  const auto of = [](VARTYPE vt, LONG bits) {
    VARIANT v{};
    v.vt = vt;
    v.lVal = bits;
    return v;
  };
  for (VARTYPE vt : {VT_I2, VT_BOOL, VT_I4, VT_ERROR, VT_R4, VT_R8, VT_UI1, VT_DISPATCH, VT_UNKNOWN}) {
    EXPECT_TRUE(StrictVariantEquals(of(vt, 1), of(vt, 1))) << vt;
    EXPECT_FALSE(StrictVariantEquals(of(vt, 1), of(vt, 2))) << vt;
  }
  EXPECT_TRUE(StrictVariantEquals(of(VT_NULL, 0), of(VT_NULL, 0)));
  EXPECT_FALSE(StrictVariantEquals(of(VT_I2, 1), of(VT_I4, 1)));
}

TEST_F(CoreReadTest, OptionListsTranslateTokenByToken) {
  // green has no text: it stays as stored.
  EXPECT_EQ("rot|green|blau", TextOf(ReadEx("strcolor", 1031)));
  EXPECT_EQ("red|green|blue", TextOf(ReadEx("strcolor", 1033)));
  EXPECT_EQ("red|green|blue", TextOf(ReadEx("strcolor", 1036)));
  EXPECT_EQ("offen", TextOf(ReadEx("strstate", 1031)));

  SetColor("red|");  // a trailing separator is dropped
  EXPECT_EQ("rot", TextOf(ReadEx("strcolor", 1031)));
  SetColor("red||blue");  // the empty identifier between is kept
  EXPECT_EQ("rot||blau", TextOf(ReadEx("strcolor", 1031)));
  SetColor("");  // an empty value is an empty string, not the default
  const CComVariant empty = ReadEx("strcolor", 1031, Str("dflt"));
  EXPECT_EQ(VT_BSTR, empty.vt);
  EXPECT_EQ("", TextOf(empty));

  // A translation that comes out empty gives the stored value back.
  db->Exec("INSERT INTO krlang (ltableid, ltype, strident, lcid, strtext) "
           "VALUES (500, 7, 'void', 1031, '')");
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  ASSERT_EQ(S_OK, pump->MoveTo(4));
  SetColor("void");
  EXPECT_EQ("void", TextOf(ReadEx("strcolor", 1031)));
  SetColor("void|red");  // within a list the empty text stands
  EXPECT_EQ("|rot", TextOf(ReadEx("strcolor", 1031)));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreReadTest, LanguageOnlyFieldsComeFromTheLanguageRow) {
  EXPECT_EQ("Titel", TextOf(ReadEx("strtitle", 1031, Str("dflt"))));
  EXPECT_EQ("dflt", TextOf(ReadEx("strtitle", 1033, Str("dflt"))));  // NULL
  EXPECT_EQ("dflt", TextOf(ReadEx("strtitle", 1036, Str("dflt"))));  // no row
  // The failed data-table read is expected and not traced.
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
  // A field in neither table fails in the language row too: that is traced.
  EXPECT_EQ("dflt", TextOf(ReadEx("nosuchcolumn", 1031, Str("dflt"))));
  EXPECT_EQ(1, TraceCount("Location: KvDataPump,")) << trace.Text();
  // Language 0 reads the data table only, which has no such field either.
  EXPECT_EQ("dflt", TextOf(ReadEx("strtitle", 0, Str("dflt"))));
  EXPECT_EQ(2, TraceCount("Location: KvDataPump,")) << trace.Text();
  EXPECT_EQ(2, HeadingCount("CKvDbException")) << trace.Text();
}

}  // namespace
