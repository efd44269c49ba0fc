#include "ClassTable.h"

#include <mutex>
#include <new>
#include <utility>

#include "../pagedpump/KvDRPump.h"
#include "../recordpump/KvDataPump.h"

namespace {

HRESULT CreateDataPump(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  // The record pump is never part of an aggregate.
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  return CKvDataPump::CreateInstance(riid, ppv);
}

HRESULT CreateDRPump(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  return CKvDRPump::CreateInstance(pUnkOuter, riid, ppv);
}

constexpr KvClassEntry kClasses[] = {
    {CLSID_KvDataPump, "KvDataPump", "KvDataPump", "Both", &CreateDataPump},
    {CLSID_KvDRPump, "KvDRPump", "KvDRPump Class", "Apartment", &CreateDRPump},
};
constexpr size_t kClassCount = sizeof kClasses / sizeof kClasses[0];

// One cached class object per table entry, created on first request. The
// cache holds one reference to each until the module unloads.
struct ClassObjectCache {
  std::mutex lock;
  IClassFactory* factories[kClassCount] = {};
  ~ClassObjectCache() {
    for (IClassFactory*& f : factories)
      if (f) std::exchange(f, nullptr)->Release();
  }
};

ClassObjectCache& Cache() {
  static ClassObjectCache cache;
  return cache;
}

}  // namespace

std::span<const KvClassEntry> KvClassTable() { return kClasses; }

HRESULT KvGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (size_t i = 0; i < kClassCount; ++i) {
    if (kClasses[i].clsid != rclsid) continue;
    ClassObjectCache& cache = Cache();
    std::lock_guard<std::mutex> guard(cache.lock);
    if (!cache.factories[i]) {
      cache.factories[i] = new (std::nothrow) CKvClassFactory(kClasses[i].createInstance);
      if (!cache.factories[i]) return E_OUTOFMEMORY;
    }
    return cache.factories[i]->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}
