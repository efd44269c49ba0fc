// IObjectControl: a transaction server activates, deactivates and pools the
// pump. The server's GetObjectContext lives in its own library, which most
// hosts do not have, so it is looked up at run time on the first Activate
// and kept for the life of the module; without it Activate fails and the
// pump works as before.
#include <dlfcn.h>

#include <atomic>
#include <new>

#include "KvDataPump.h"

namespace {

using PFN_GetObjectContext = HRESULT (*)(IObjectContext**);

constexpr const char* kTransactionServerLibrary = "libmtxex.so";
constexpr HRESULT kProcNotFound = HRESULT_FROM_WIN32(127);

struct LoadedTransactionServer {
  void* hLibrary;
  PFN_GetObjectContext pfnGetObjectContext;
};

// Set once; the library stays loaded until the module goes away.
class TransactionServerBinding {
 public:
  ~TransactionServerBinding() {
    if (LoadedTransactionServer* loaded = m_loaded.exchange(nullptr)) {
      dlclose(loaded->hLibrary);
      delete loaded;
    }
  }

  // The entry point, or a failure code when the library or the entry point
  // is missing (looked up again on the next call then).
  HRESULT Resolve(PFN_GetObjectContext* pfn) {
    if (LoadedTransactionServer* loaded = m_loaded.load(std::memory_order_acquire)) {
      *pfn = loaded->pfnGetObjectContext;
      return S_OK;
    }
    void* hLibrary = dlopen(kTransactionServerLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!hLibrary) return CO_E_DLLNOTFOUND;
    auto entry = reinterpret_cast<PFN_GetObjectContext>(dlsym(hLibrary, "GetObjectContext"));
    if (!entry) {
      dlclose(hLibrary);
      return kProcNotFound;
    }
    auto* mine = new (std::nothrow) LoadedTransactionServer{hLibrary, entry};
    if (!mine) {
      dlclose(hLibrary);
      return E_OUTOFMEMORY;
    }
    LoadedTransactionServer* expected = nullptr;
    if (!m_loaded.compare_exchange_strong(expected, mine, std::memory_order_acq_rel)) {
      // Another thread got there first: keep its load, release ours.
      dlclose(hLibrary);
      delete mine;
      *pfn = expected->pfnGetObjectContext;
      return S_OK;
    }
    *pfn = entry;
    return S_OK;
  }

 private:
  std::atomic<LoadedTransactionServer*> m_loaded{nullptr};
};

TransactionServerBinding g_transactionServer;

}  // namespace

HRESULT CKvDataPump::Activate() {
  PFN_GetObjectContext pfnGetObjectContext = nullptr;
  const HRESULT hr = g_transactionServer.Resolve(&pfnGetObjectContext);
  if (FAILED(hr)) return hr;
  return pfnGetObjectContext(m_spObjectContext.ReleaseAndGetAddressOf());
}

void CKvDataPump::Deactivate() {
  // Cleared before the release, so nothing reached from the context's
  // release can see a pointer that is on its way out.
  if (IObjectContext* context = m_spObjectContext.Detach()) context->Release();
}

BOOL CKvDataPump::CanBePooled() { return TRUE; }
