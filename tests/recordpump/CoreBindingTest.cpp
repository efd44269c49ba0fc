// Binding a pump to a form: which tables it ends up on, which control texts
// it loads, and what a failed or empty binding leaves behind.
#include <functional>

#include "platform/host/HostSession.h"
#include "pump_fixtures.h"
#include "src/common/Format.h"

namespace {

using CoreBindingTest = CorePumpTest;

// What a binding reads from the repository, and that the bound form then
// reads its own table with its own control texts.
TEST_F(CoreBindingTest, FormsReachTheirTableAndTextsThroughTheirOwnPack) {
  db->Exec("INSERT INTO krorder (lid, strno, strcolor) VALUES (1, 'A1', 'red|blue')");
  db->Exec("INSERT INTO krorderline (lid, strname) VALUES (1, 'pencil')");
  StatementCapture statements;
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  // The repository reads, then one read of texts per control.
  ASSERT_GE(statements.Statements().size(), 4u);
  EXPECT_EQ(std::vector<std::string>(statements.Statements().begin(), statements.Statements().begin() + 4),
            (std::vector<std::string>{
      "SELECT ltype, lpackid, lappid FROM krappform WHERE lid=100",
      "SELECT krappeditpack.ldatapackid, krappdatapack.strtable FROM krappeditpack, krappdatapack "
      "WHERE krappeditpack.lid=20 AND krappdatapack.lid=krappeditpack.ldatapackid",
      "SELECT krappdatapack.lid, krappdatapack.strtable FROM krappdatapack WHERE strname='#10'",
      "SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE f.ldatapackid=10 AND "
      "f.bsystem=0 AND c.ldatafieldid=f.lid"}));
  ASSERT_EQ(S_OK, pump->MoveTo(1));
  EXPECT_EQ("rot|blau", TextOf(ReadEx("strcolor", 1031)));
  EXPECT_EQ("red|blue", TextOf(ReadEx("strcolor", 1033)));

  statements.Clear();
  ASSERT_EQ(S_OK, Bind(kOrderViewForm));
  ASSERT_GE(statements.Statements().size(), 2u);
  EXPECT_EQ(
      "SELECT krappviewpack.ldatapackid, krappdatapack.strtable FROM krappviewpack, krappdatapack "
      "WHERE krappviewpack.lid=21 AND krappdatapack.lid=krappviewpack.ldatapackid",
      statements.Statements()[1]);
  ASSERT_EQ(S_OK, pump->MoveTo(1));
  EXPECT_EQ("A1", TextOf(Read("strno")));

  // Any non-zero form type is an edit form. Texts of earlier bindings stay.
  db->Exec("DELETE FROM krlang");
  ASSERT_EQ(S_OK, Bind(kLineEditForm));
  ASSERT_EQ(S_OK, pump->MoveTo(1));
  EXPECT_EQ("pencil", TextOf(Read("strname")));
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  ASSERT_EQ(S_OK, pump->MoveTo(1));
  EXPECT_EQ("rot|blau", TextOf(ReadEx("strcolor", 1031)));

  // A form without language pack reads no texts at all.
  statements.Clear();
  ASSERT_EQ(S_OK, Bind(kNoteEditForm));
  for (const std::string& sql : statements.Statements()) {
    EXPECT_EQ(std::string::npos, sql.find("krappcontrol")) << sql;
    EXPECT_EQ(std::string::npos, sql.find("krlang")) << sql;
  }
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreBindingTest, MissingFormOrZeroIdLeavesThePumpUnbound) {
  db->Exec("INSERT INTO krorder (lid, strno) VALUES (3, 'A3')");
  for (LONG form : {999, 0}) {
    ASSERT_EQ(S_OK, Bind(kOrderEditForm));
    ASSERT_EQ(S_OK, pump->MoveTo(3));
    Set("strno", Str("pending"));
    ASSERT_EQ(S_OK, Bind(form));
    EXPECT_EQ("none", TextOf(Read("strno", Str("none")))) << form;
    EXPECT_EQ(-77, Save()) << form;
  }
  EXPECT_EQ("A3", db->QueryString("SELECT strno FROM krorder WHERE lid=3"));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

// A session that is missing, cannot be taken as the host's session or gives
// no connection: the binding fails with the general error report.
TEST_F(CoreBindingTest, SessionThatCannotServeFailsTheBindingWithAGeneralError) {
  const auto failOn = [&](KvHostCall call, HRESULT hr) {
    EXPECT_EQ(S_OK, KvConfigureHostSession(session.Get(), [&](KvHostSessionConfig& config) {
                config.failures = {{call, hr, ""}};
              }));
  };
  const std::function<HRESULT()> attempts[] = {
      [&] { return pump->Init(nullptr, kOrderEditForm); },
      [&] { failOn(KvHostCall::QueryHostSession, E_ACCESSDENIED); return Bind(kOrderEditForm); },
      [&] { failOn(KvHostCall::Connection, E_UNEXPECTED); return Bind(kOrderEditForm); },
  };
  for (const auto& attempt : attempts) {
    ASSERT_EQ(S_OK, pump->Init(db->NewSession().Get(), kOrderEditForm));
    trace.Clear();
    EXPECT_EQ(E_FAIL, attempt());
    EXPECT_TRUE(TraceHas("[General error]")) << trace.Text();
    EXPECT_TRUE(TraceHas("Error: 0X8000FFFF")) << trace.Text();
    EXPECT_TRUE(TraceHas("Returning: 0X80004005")) << trace.Text();
  }

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
  EXPECT_TRUE(TraceHas(Format("Returning: %#08X", static_cast<unsigned>(hr)))) << trace.Text();
}

}  // namespace
