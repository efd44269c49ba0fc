// Binding a pump to a form: which tables it ends up on, which control texts
// it loads, and what a failed or empty binding leaves behind.
#include <cstdio>

#include "CorePumpFixture.h"

namespace {

using CoreBindingTest = CorePumpTest;

TEST_F(CoreBindingTest, EditAndViewFormsReachTheirDataPackThroughTheirOwnPack) {
  StatementCapture statements;
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  EXPECT_EQ(10, Impl().DatapackId());
  EXPECT_EQ("krorder", Impl().Table());
  EXPECT_EQ(11, Impl().LangDatapackId());
  EXPECT_EQ("krorder_l", Impl().LangTable());
  EXPECT_EQ(1, Impl().AppId());
  EXPECT_EQ(-1, Impl().CurrentId());
  ASSERT_GE(statements.Statements().size(), 4u);
  EXPECT_EQ("SELECT ltype, lpackid, lappid FROM krappform WHERE lid=100", statements.Statements()[0]);
  EXPECT_EQ(
      "SELECT krappeditpack.ldatapackid, krappdatapack.strtable FROM krappeditpack, krappdatapack "
      "WHERE krappeditpack.lid=20 AND krappdatapack.lid=krappeditpack.ldatapackid",
      statements.Statements()[1]);
  EXPECT_EQ("SELECT krappdatapack.lid, krappdatapack.strtable FROM krappdatapack WHERE strname='#10'",
            statements.Statements()[2]);
  EXPECT_EQ(
      "SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE f.ldatapackid=10 AND "
      "f.bsystem=0 AND c.ldatafieldid=f.lid",
      statements.Statements()[3]);

  statements.Clear();
  ASSERT_EQ(S_OK, Bind(kOrderViewForm));
  EXPECT_EQ("krorder", Impl().Table());
  ASSERT_GE(statements.Statements().size(), 2u);
  EXPECT_EQ(
      "SELECT krappviewpack.ldatapackid, krappdatapack.strtable FROM krappviewpack, krappdatapack "
      "WHERE krappviewpack.lid=21 AND krappdatapack.lid=krappviewpack.ldatapackid",
      statements.Statements()[1]);

  // Any non-zero form type is an edit form.
  ASSERT_EQ(S_OK, Bind(kLineEditForm));
  EXPECT_EQ(12, Impl().DatapackId());
  EXPECT_EQ("krorderline", Impl().Table());
  EXPECT_EQ("krorderline_l", Impl().LangTable());
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreBindingTest, ControlTextsAreKeyedByFieldIdentAndLanguage) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  const CLangTextMap& texts = Impl().LangTexts();
  EXPECT_EQ("rot", texts.at("strcolor_red_1031"));
  EXPECT_EQ("red", texts.at("strcolor_red_1033"));
  EXPECT_EQ("blau", texts.at("strcolor_blue_1031"));
  EXPECT_EQ("offen", texts.at("strstate_2_1031"));
  EXPECT_EQ("closed", texts.at("strstate_7_1033"));
  // Control 503 sits on a system field: its text is never loaded.
  EXPECT_EQ(0u, texts.count("lid_x_1031"));
  EXPECT_EQ(8u, texts.size());
}

TEST_F(CoreBindingTest, LaterBindingsKeepEarlierTexts) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  db->Exec("DELETE FROM krlang");
  ASSERT_EQ(S_OK, Bind(kLineEditForm));
  EXPECT_EQ("krorderline", Impl().Table());
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  EXPECT_EQ("rot", Impl().LangTexts().at("strcolor_red_1031"));
  EXPECT_EQ(8u, Impl().LangTexts().size());
}

TEST_F(CoreBindingTest, FormWithoutLanguagePackLoadsNoTexts) {
  StatementCapture statements;
  ASSERT_EQ(S_OK, Bind(kNoteEditForm));
  EXPECT_EQ("krlinenote", Impl().Table());
  EXPECT_EQ(14, Impl().DatapackId());
  EXPECT_EQ(-1, Impl().LangDatapackId());
  EXPECT_EQ("", Impl().LangTable());
  EXPECT_TRUE(Impl().LangTexts().empty());
  for (const std::string& sql : statements.Statements()) {
    EXPECT_EQ(std::string::npos, sql.find("krappcontrol")) << sql;
    EXPECT_EQ(std::string::npos, sql.find("krlang")) << sql;
  }
}

TEST_F(CoreBindingTest, MissingFormOrZeroIdLeavesThePumpUnbound) {
  Set("strno", Str("pending"));
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  EXPECT_TRUE(Impl().Fields().empty());
  ASSERT_EQ(S_OK, pump->MoveTo(3));

  ASSERT_EQ(S_OK, Bind(999));
  EXPECT_EQ("", Impl().Table());
  EXPECT_EQ(-1, Impl().DatapackId());
  EXPECT_EQ(-1, Impl().LangDatapackId());
  EXPECT_EQ(-1, Impl().AppId());
  EXPECT_EQ(-1, Impl().CurrentId());

  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  Set("strno", Str("pending"));
  StatementCapture statements;
  ASSERT_EQ(S_OK, Bind(0));
  EXPECT_TRUE(statements.Statements().empty());
  EXPECT_EQ("", Impl().Table());
  EXPECT_TRUE(Impl().Fields().empty());
  // The language table of the previous binding stays until the next real one.
  EXPECT_EQ("krorder_l", Impl().LangTable());
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreBindingTest, NullSessionWithAFormFailsAndLeavesIdsUnset) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  EXPECT_EQ(E_FAIL, pump->Init(nullptr, kOrderEditForm));
  EXPECT_EQ(-1, Impl().DatapackId());
  EXPECT_EQ(-1, Impl().AppId());
  EXPECT_EQ("", Impl().Table());
  EXPECT_TRUE(TraceHas("[General error]")) << trace.Text();
  EXPECT_TRUE(TraceHas("Error: 0X8000FFFF")) << trace.Text();
  EXPECT_TRUE(TraceHas("Returning: 0X80004005")) << trace.Text();

  // Without a form id there is nothing to read, so no session is needed.
  trace.Clear();
  EXPECT_EQ(S_OK, pump->Init(nullptr, 0));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreBindingTest, DatabaseFailureReturnsTheAccessLayerCode) {
  db->Exec("DROP TABLE krappform");
  const HRESULT hr = Bind(kOrderEditForm);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(E_FAIL, hr);
  EXPECT_TRUE(TraceHas("[CKvDbException]")) << trace.Text();
  EXPECT_TRUE(TraceHas("Location: KvDataPump, ")) << trace.Text();
  char returning[64];
  std::snprintf(returning, sizeof returning, "Returning: %#08X", static_cast<unsigned>(hr));
  EXPECT_TRUE(TraceHas(returning)) << trace.Text();
}

}  // namespace
