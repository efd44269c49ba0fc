// Failing calls of the host session: binding and saving fail with E_FAIL
// and a general error report, reading swallows the COM error and keeps the
// caller's default.
#include "CorePumpFixture.h"
#include "platform/host/HostSession.h"

namespace {

class CoreHostFailureTest : public CorePumpTest {
 protected:
  void FailOn(KvHostCall call, HRESULT hr, const std::string& description = "") {
    ASSERT_EQ(S_OK, KvConfigureHostSession(session.Get(), [&](KvHostSessionConfig& config) {
                config.failures.push_back({call, hr, description});
              }));
  }
  void ExpectGeneralErrorReport() {
    EXPECT_TRUE(TraceHas("[General error]")) << trace.Text();
    EXPECT_TRUE(TraceHas("Error: 0X8000FFFF")) << trace.Text();
    EXPECT_TRUE(TraceHas("Returning: 0X80004005")) << trace.Text();
  }
};

TEST_F(CoreHostFailureTest, BindingFailsWhenTheSessionCannotBeTakenOrGivesNoConnection) {
  FailOn(KvHostCall::QueryHostSession, E_ACCESSDENIED);
  EXPECT_EQ(E_FAIL, Bind(kOrderEditForm));
  ExpectGeneralErrorReport();
  EXPECT_EQ("", Impl().Table());

  ASSERT_EQ(S_OK, KvConfigureHostSession(session.Get(), [](KvHostSessionConfig& config) {
              config.failures.clear();
            }));
  FailOn(KvHostCall::Connection, E_UNEXPECTED);
  trace.Clear();
  EXPECT_EQ(E_FAIL, Bind(kOrderEditForm));
  ExpectGeneralErrorReport();
  EXPECT_EQ(-1, Impl().DatapackId());
}

TEST_F(CoreHostFailureTest, ReadingReportsTheComErrorAndKeepsTheDefault) {
  db->Exec("INSERT INTO krorder (lid, strno) VALUES (1, 'one')");
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  ASSERT_EQ(S_OK, pump->MoveTo(1));
  FailOn(KvHostCall::Valid, E_ACCESSDENIED, "session expired");
  EXPECT_EQ("dflt", TextOf(Read("strno", Str("dflt"))));
  EXPECT_TRUE(TraceHas("[COM error]")) << trace.Text();
  EXPECT_TRUE(TraceHas("HR: 0x80070005")) << trace.Text();
  EXPECT_TRUE(TraceHas("Description: session expired")) << trace.Text();
  EXPECT_FALSE(TraceHas("Returning:")) << trace.Text();

  // Without error information the description reads (null).
  ASSERT_EQ(S_OK, KvConfigureHostSession(session.Get(), [](KvHostSessionConfig& config) {
              config.failures.clear();
            }));
  FailOn(KvHostCall::Connection, E_ACCESSDENIED);
  trace.Clear();
  EXPECT_EQ("dflt", TextOf(ReadEx("strcolor", 1031, Str("dflt"))));
  EXPECT_TRUE(TraceHas("Description: (null)")) << trace.Text();
}

TEST_F(CoreHostFailureTest, SavingFailsWithoutWritingWhenTheSessionFails) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  Set("strno", Str("x"));
  FailOn(KvHostCall::Valid, E_ACCESSDENIED);
  EXPECT_EQ(-77, Save(E_FAIL));
  ExpectGeneralErrorReport();
  EXPECT_EQ(0, db->Count("krorder"));
}

}  // namespace
