// The pump as a component: the interfaces it answers, the module lock its
// life holds, and its activation by a transaction server.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "CorePumpFixture.h"
#include "src/module/ModuleLock.h"

namespace {

TEST(CoreObject, AnswersItsInterfacesWithOneIdentityAndHoldsTheModule) {
  const LONG locksBefore = ModuleLockCount();
  ComPtr<IKvDataPump> pump;
  ASSERT_EQ(S_OK, CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(locksBefore + 1, ModuleLockCount());
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(S_OK, pump.As(&dispatch));
  EXPECT_EQ(static_cast<IDispatch*>(pump.Get()), dispatch.Get());
  ComPtr<IObjectControl> control;
  ASSERT_EQ(S_OK, pump.As(&control));
  ComPtr<IUnknown> unknown, unknownViaControl;
  ASSERT_EQ(S_OK, pump.As(&unknown));
  ASSERT_EQ(S_OK, control.As(&unknownViaControl));
  EXPECT_EQ(unknown.Get(), unknownViaControl.Get());
  ComPtr<ISupportErrorInfo> errorInfo;
  EXPECT_EQ(E_NOINTERFACE, pump.As(&errorInfo));

  // A pump that dies with pending values gives the module back (and frees
  // them: the sanitizer build checks).
  CComBSTR field("strno");
  ASSERT_EQ(S_OK, pump->SetFieldValueEx(field.Get(), 1031, Str("offen")));
  dispatch.Reset();
  control.Reset();
  unknown.Reset();
  unknownViaControl.Reset();
  pump.Reset();
  EXPECT_EQ(locksBefore, ModuleLockCount());
}

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

TEST(CoreObject, StoreKeepsEveryEntryAndOneListPerLanguage) {
  ComPtr<IKvDataPump> pump;
  ASSERT_EQ(S_OK, CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()));
  CKvDataPump& impl = *static_cast<CKvDataPump*>(pump.Get());
  CComBSTR a("a"), b("b");
  ASSERT_EQ(S_OK, pump->SetFieldValueEx(a.Get(), 1033, I4(1)));
  ASSERT_EQ(S_OK, pump->SetFieldValueEx(a.Get(), 1033, I4(2)));
  ASSERT_EQ(S_OK, pump->SetFieldValueEx(b.Get(), 1031, I4(3)));
  ASSERT_EQ(S_OK, pump->SetFieldValueEx(b.Get(), 0, I4(4)));  // the record's own row
  ASSERT_EQ(2u, impl.LangFields().size());
  EXPECT_EQ(2u, impl.LangFields().at(1033)->size());
  EXPECT_EQ(1u, impl.LangFields().at(1031)->size());
  ASSERT_EQ(1u, impl.Fields().size());
  ASSERT_EQ(S_OK, pump->CleanFieldValues());
  EXPECT_TRUE(impl.Fields().empty());
  EXPECT_TRUE(impl.LangFields().empty());
}

TEST(CoreObject, ValuesThatCannotBeCopiedAreRefusedAndReported) {
  TraceCapture trace;
  ComPtr<IKvDataPump> pump;
  ASSERT_EQ(S_OK, CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()));
  CComBSTR a("a");
  VARIANT broken{};
  broken.vt = 0x0FFF;  // no such variant type
  EXPECT_EQ(DISP_E_BADVARTYPE, pump->SetFieldValue(a.Get(), broken));
  EXPECT_EQ(DISP_E_BADVARTYPE, pump->SetFieldValueEx(a.Get(), 1031, broken));
  CKvDataPump& impl = *static_cast<CKvDataPump*>(pump.Get());
  EXPECT_TRUE(impl.Fields().empty());
  EXPECT_TRUE(impl.LangFields().empty());
  EXPECT_NE(std::string::npos, trace.Text().find("[COM error]")) << trace.Text();
}

TEST(CoreObjectControl, PoolingWithoutATransactionServer) {
  ComPtr<IKvDataPump> pump;
  ASSERT_EQ(S_OK, CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()));
  ComPtr<IObjectControl> control;
  ASSERT_EQ(S_OK, pump.As(&control));
  EXPECT_EQ(TRUE, control->CanBePooled());
  control->Deactivate();  // without Activate: nothing to release
  // This process cannot find the server's library.
  EXPECT_EQ(CO_E_DLLNOTFOUND, control->Activate());
  EXPECT_EQ(CO_E_DLLNOTFOUND, control->Activate());
  control->Deactivate();
}

#ifdef KV_MTXEX_STUB_DIR
using LiveContextsFn = int (*)();
using FailWithFn = void (*)(HRESULT);

// Runs in a child process whose library path reaches the stand-in server;
// exits with 0 when everything held, else with the number of the check.
[[noreturn]] void ActivateAgainstTheServerAndExit() {
  ComPtr<IKvDataPump> pump;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())))
    std::_Exit(10);
  ComPtr<IObjectControl> control;
  if (FAILED(pump.As(&control))) std::_Exit(11);
  if (control->Activate() != S_OK) std::_Exit(12);
  void* server = dlopen("libmtxex.so", RTLD_NOW | RTLD_NOLOAD);
  if (!server) std::_Exit(13);
  auto liveContexts = reinterpret_cast<LiveContextsFn>(dlsym(server, "MtxStubLiveContexts"));
  auto failWith = reinterpret_cast<FailWithFn>(dlsym(server, "MtxStubFailWith"));
  if (!liveContexts || !failWith) std::_Exit(14);
  if (liveContexts() != 1) std::_Exit(15);
  // Activating again replaces the context; a second pump holds its own.
  if (control->Activate() != S_OK || liveContexts() != 1) std::_Exit(16);
  ComPtr<IKvDataPump> other;
  ComPtr<IObjectControl> otherControl;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, other.ReleaseAndGetVoidAddress())) ||
      FAILED(other.As(&otherControl)) || otherControl->Activate() != S_OK || liveContexts() != 2)
    std::_Exit(17);
  control->Deactivate();
  if (liveContexts() != 1) std::_Exit(18);
  // The server's own failure comes back unchanged.
  constexpr HRESULT kNoContext = MAKE_HRESULT_U(0x8004E004);
  failWith(kNoContext);
  if (control->Activate() != kNoContext) std::_Exit(19);
  failWith(S_OK);
  // A pooled pump still works after deactivation.
  if (control->CanBePooled() != TRUE) std::_Exit(20);
  otherControl.Reset();
  other.Reset();  // destruction releases a context still held
  if (liveContexts() != 0) std::_Exit(21);
  dlclose(server);
  std::_Exit(0);
}

TEST(CoreObjectControl, ActivationHoldsTheServerContextUntilDeactivation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* previous = std::getenv("LD_LIBRARY_PATH");
  const std::string saved = previous ? previous : "";
  setenv("LD_LIBRARY_PATH", KV_MTXEX_STUB_DIR, 1);
  EXPECT_EXIT(ActivateAgainstTheServerAndExit(), ::testing::ExitedWithCode(0), "");
  if (previous) {
    setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
  } else {
    unsetenv("LD_LIBRARY_PATH");
  }
}
#endif

}  // namespace
