// Failing calls of the host session: binding and saving fail with E_FAIL
// and a general error report, reading swallows the COM error and keeps the
// caller's default.
#include "pump_fixtures.h"
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

  ASSERT_EQ(S_OK, KvConfigureHostSession(session.Get(), [](KvHostSessionConfig& config) {
              config.failures.clear();
            }));
  FailOn(KvHostCall::Connection, E_UNEXPECTED);
  trace.Clear();
  EXPECT_EQ(E_FAIL, Bind(kOrderEditForm));
  ExpectGeneralErrorReport();
}

}  // namespace
