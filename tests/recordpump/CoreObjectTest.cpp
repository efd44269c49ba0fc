// The pump as a component: back-off draws that differ between threads,
// values it cannot copy, and pooling without a transaction server.
#include <cstdlib>
#include <thread>

#include "pump_fixtures.h"
#include "src/recordpump/CollisionBackoff.h"

namespace {

TEST(CoreObject, BackOffsDifferBetweenThreadsAndPumpsLeaveRandAlone) {
  // Each thread reports its first eight back-off draws, all started at once.
  std::vector<std::string> draws(3);
  std::vector<std::thread> threads;
  for (std::string& text : draws)
    threads.emplace_back([&text] {
      for (int i = 0; i < 8; ++i) text += std::to_string(CollisionBackoffMs()) + " ";
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_NE(draws[0], draws[1]);
  EXPECT_NE(draws[1], draws[2]);
  EXPECT_NE(draws[0], draws[2]);

  // Making a pump does not reseed the process's generator under the host.
  std::srand(7);
  const int expected = std::rand();
  std::srand(7);
  ComPtr<IKvDataPump> pump = NewDataPump();
  ASSERT_TRUE(pump);
  EXPECT_EQ(std::rand(), expected);
}

// Values it cannot copy are refused and reported; pooling is allowed, but
// this process cannot find the transaction server's library.
TEST(CoreObject, RefusesValuesItCannotCopyAndActivatesOnlyWithATransactionServer) {
  TraceCapture trace;
  ComPtr<IKvDataPump> pump = NewDataPump();
  ASSERT_TRUE(pump);
  CComBSTR a("a");
  VARIANT broken{};
  broken.vt = 0x0FFF;  // no such variant type
  EXPECT_EQ(DISP_E_BADVARTYPE, pump->SetFieldValue(a.Get(), broken));
  EXPECT_EQ(DISP_E_BADVARTYPE, pump->SetFieldValueEx(a.Get(), 1031, broken));
  EXPECT_NE(std::string::npos, trace.Text().find("[COM error]")) << trace.Text();

  ComPtr<IObjectControl> control;
  ASSERT_EQ(S_OK, pump.As(&control));
  EXPECT_EQ(TRUE, control->CanBePooled());
  control->Deactivate();  // without Activate: nothing to release
  EXPECT_EQ(CO_E_DLLNOTFOUND, control->Activate());
  EXPECT_EQ(CO_E_DLLNOTFOUND, control->Activate());
  control->Deactivate();
}

}  // namespace
