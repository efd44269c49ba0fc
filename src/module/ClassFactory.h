// The standard class object of the module's classes. The module keeps one
// per class (see ClassTable) and holds one reference to it; while a client
// holds another, the factory keeps the module locked, so the module is not
// unloaded under a client that still means to create objects.
#pragma once

#include <atomic>

#include "../outside/Com.h"

// Creates one object of a class: inside the aggregate pUnkOuter when it is
// given (riid is then IID_IUnknown), else standing alone.
using KvCreateInstanceFn = HRESULT (*)(IUnknown* pUnkOuter, REFIID riid, void** ppv);

class CKvClassFactory final : public IClassFactory {
 public:
  // Reference count 1: the module cache's own reference.
  explicit CKvClassFactory(KvCreateInstanceFn createInstance) : m_createInstance(createInstance) {}
  CKvClassFactory(const CKvClassFactory&) = delete;
  CKvClassFactory& operator=(const CKvClassFactory&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
  HRESULT LockServer(BOOL fLock) override;

 private:
  ~CKvClassFactory() = default;

  std::atomic<ULONG> m_cRef{1};
  const KvCreateInstanceFn m_createInstance;
};
