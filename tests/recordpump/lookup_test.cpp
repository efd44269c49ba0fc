#include "pump_fixtures.h"

namespace {

class LookupTest : public PumpTest {
 protected:
  void SetUp() override {
    PumpTest::SetUp();
    if (IsSkipped()) return;
    db->Exec("INSERT INTO krorder (lid, strno, lamount) VALUES (1, 'A1', 42), (2, 'A2', NULL)");
    BindSession(session.Get());
  }
  // Through GetValueDirectEx when a language is given.
  CComVariant Direct(const char* table, LONG id, const char* field, LONG lcid = -1) {
    CComVariant v;
    const CComBSTR t(table), f(field);
    EXPECT_EQ(lcid < 0 ? pump->GetValueDirect(t.Get(), id, f.Get(), &v)
                       : pump->GetValueDirectEx(t.Get(), id, f.Get(), lcid, &v),
              S_OK);
    return v;
  }
  static constexpr const char* kOrderControls =
      "SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE f.ldatapackid=10 AND "
      "f.bsystem=0 AND c.ldatafieldid=f.lid";
};

TEST_P(LookupTest, LanguageFieldsComeFromTheLanguageRowTranslated) {
  db->Exec("INSERT INTO krappcontrol (lid, ldatafieldid) SELECT 9200, lid FROM krappdatafield "
           "WHERE ldatapackid=11 AND strname='strtitle'");
  db->Exec("INSERT INTO krlang (ltableid, ltype, strident, lcid, strtext) "
           "VALUES (9200, 7, 't1', 1031, 'Titel eins')");
  db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid, strtitle) VALUES "
           "(1, 1, 1031, 't1|x'), (2, 1, 1033, 'One')");
  // strtitle is no field of the orders pack, so it counts as language-dependent.
  EXPECT_EQ(TextOf(Direct("krorder", 1, "strtitle", 1031)), "Titel eins|x");
  // No fallback to another language or the main row.
  EXPECT_EQ(TextOf(Direct("krorder", 2, "strtitle", 1031)), "");
  // A plain field of the pack is read from the main row, translated too.
  EXPECT_EQ(TextOf(Direct("krorder", 1, "strno", 1031)), "A1");
  // A bound form looks the data pack up within its application.
  ASSERT_EQ(pump->Init(session.Get(), 100), S_OK);
  EXPECT_EQ(TextOf(Direct("krorder", 1, "strtitle", 1031)), "Titel eins|x");
}

TEST_P(LookupTest, TheFlagsWordChoosesTheTableRead) {
  const struct {
    const char* type;
    int precision;
    int precision2;
    bool language;
  } cases[] = {
      {"TEXT", 0, 4, true},  {"TEXT", 0, 0, false},       {"TEXT", 4, 0, false},
      {"TEXT", -5, 0, false}, {"TEXT", 0x40000, 0, true}, {"FILE", 2, 0, true},
      {"file", -6, 0, true},  {"FILE", -5, 4, false},     {"File", 0, 4, false},
  };
  for (const auto& c : cases) {
    db->Exec("UPDATE krappdatafield SET strdatatype='" + std::string(c.type) +
             "', lprecision=" + std::to_string(c.precision) + ", lprecision2=" +
             std::to_string(c.precision2) + " WHERE ldatapackid=10 AND strname='strno'");
    StatementCapture statements;
    Direct("krorder", 1, "strno", 1031);
    EXPECT_TRUE(Saw(statements, c.language ? "SELECT strno FROM krorder_l WHERE llcid=1031 AND lparentid=1"
                                           : "SELECT strno FROM krorder WHERE lid=1"))
        << c.type << " " << c.precision << " " << c.precision2;
  }
}

TEST_P(LookupTest, TextsReloadOnlyWhenTheTableChanges) {
  // A second data pack naming the orders table in other letters.
  db->Exec("INSERT INTO krappdatapack (lid, strtable, strname, lappid, ldatapackid, lrecrightsmask) "
           "VALUES (90, 'KrOrder', 'orders again', 1, -1, 0)");
  Direct("krorder", 1, "strno", 1031);
  const auto reloads = [&](const char* table, const char* field) {
    StatementCapture statements;
    Direct(table, 1, field, 1031);
    return Saw(statements, kOrderControls);
  };
  EXPECT_FALSE(reloads("KrOrder", "strno"));
  EXPECT_FALSE(reloads("krorderline", "strname"));
  EXPECT_TRUE(reloads("krorder", "strno"));
  // A query forgets the table, so the next lookup always reloads.
  ASSERT_EQ(pump->QueryInit(session.Get(), CComBSTR("SELECT lid FROM krorder").Get()), S_OK);
  EXPECT_TRUE(reloads("krorder", "strno"));
}

TEST_P(LookupTest, ValuesKeepTheirTypeAndNoValueIsAnEmptyString) {
  for (const CComVariant& v : {Direct("krorder", 1, "lamount"), Direct("krorder", 1, "lamount", 0)}) {
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
  }
  EXPECT_EQ(TextOf(Direct("krorder", 2, "lamount")), "");
  EXPECT_EQ(TextOf(Direct("krorder", 99, "strno")), "");
}

KV_ON_BOTH_ENGINES(LookupTest);

}  // namespace
