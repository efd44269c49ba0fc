// Stand-in for the transaction server's context library, loaded by name at
// run time by pooled components. It hands out a fresh context per call and
// counts the contexts still referenced, so tests can see that a component
// releases what it took.
#include <atomic>

#include "platform/host/HostInterfaces.h"

namespace {

std::atomic<int> g_liveContexts{0};
std::atomic<HRESULT> g_failure{S_OK};

class StubObjectContext final : public IObjectContext {
 public:
  StubObjectContext() { ++g_liveContexts; }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IUnknown::kIid || riid == IObjectContext::kIid) {
      *ppv = static_cast<IObjectContext*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_cRef; }
  ULONG Release() override {
    const ULONG c = --m_cRef;
    if (c == 0) {
      --g_liveContexts;
      delete this;
    }
    return c;
  }
  HRESULT CreateInstance(REFCLSID, REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
  }
  HRESULT SetComplete() override { return S_OK; }
  HRESULT SetAbort() override { return S_OK; }
  HRESULT EnableCommit() override { return S_OK; }
  HRESULT DisableCommit() override { return S_OK; }
  BOOL IsInTransaction() override { return FALSE; }
  BOOL IsSecurityEnabled() override { return FALSE; }
  HRESULT IsCallerInRole(BSTR, BOOL* pfIsInRole) override {
    if (pfIsInRole) *pfIsInRole = TRUE;
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_cRef{1};
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT GetObjectContext(IObjectContext** ppInstanceContext) {
  if (!ppInstanceContext) return E_POINTER;
  *ppInstanceContext = nullptr;
  const HRESULT failure = g_failure.load();
  if (FAILED(failure)) return failure;
  *ppInstanceContext = new StubObjectContext();
  return S_OK;
}

// Test controls.
__attribute__((visibility("default"))) int MtxStubLiveContexts() { return g_liveContexts.load(); }
__attribute__((visibility("default"))) void MtxStubFailWith(HRESULT hr) { g_failure.store(hr); }

}
