// The pump as a component: back-off draws that differ between processes,
// values it cannot copy, and pooling without a transaction server.
#include <sys/wait.h>
#include <unistd.h>

#include "pump_fixtures.h"

namespace {

TEST(CoreObject, PumpsOfProcessesStartedTogetherDrawDifferentBackOffs) {
  // Each child makes a pump and reports its first eight back-off draws.
  std::vector<std::string> draws;
  for (int child = 0; child < 3; ++child) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      ComPtr<IKvDataPump> pump;
      if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()))) _exit(1);
      std::string text;
      for (int i = 0; i < 8; ++i) text += std::to_string(std::rand() & 0xFF) + " ";
      _exit(write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(fds[1]);
    char buffer[128] = {};
    const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    draws.emplace_back(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  }
  // Started within one second, yet no two draw the same waits.
  EXPECT_NE(draws[0], draws[1]);
  EXPECT_NE(draws[1], draws[2]);
  EXPECT_NE(draws[0], draws[2]);
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
