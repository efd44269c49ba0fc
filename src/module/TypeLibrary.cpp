#include "TypeLibrary.h"

#include <mutex>

#include "../pagedpump/IKvDRPump.h"
#include "../recordpump/IKvDataPump.h"

namespace {

// Built on the first call that needs type information and kept until the
// module unloads; objects of any thread share it.
struct TypeInfoCache {
  std::mutex lock;
  ComPtr<ITypeLib> library;
  ComPtr<ITypeInfo> dataPump;
  ComPtr<ITypeInfo> drPump;
};

TypeInfoCache& Cache() {
  static TypeInfoCache cache;
  return cache;
}

// The caller holds the cache's lock.
HRESULT LoadLocked(TypeInfoCache& cache) {
  if (cache.library) return S_OK;
  ComPtr<ITypeLib> library;
  HRESULT hr = CreateTypeLibFromData(KvTypeLibraryData(), library.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> dataPump, drPump;
  if (FAILED(hr = library->GetTypeInfoOfGuid(IKvDataPump::kIid, dataPump.ReleaseAndGetAddressOf())))
    return hr;
  if (FAILED(hr = library->GetTypeInfoOfGuid(IKvDRPump::kIid, drPump.ReleaseAndGetAddressOf())))
    return hr;
  cache.library = std::move(library);
  cache.dataPump = std::move(dataPump);
  cache.drPump = std::move(drPump);
  return S_OK;
}

}  // namespace

HRESULT KvGetTypeLib(ITypeLib** pptlib) {
  if (!pptlib) return E_POINTER;
  *pptlib = nullptr;
  TypeInfoCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.lock);
  HRESULT hr = LoadLocked(cache);
  if (FAILED(hr)) return hr;
  *pptlib = ComPtr<ITypeLib>(cache.library).Detach();
  return S_OK;
}

HRESULT KvGetTypeInfo(REFIID iid, ITypeInfo** ppTInfo) {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  TypeInfoCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.lock);
  HRESULT hr = LoadLocked(cache);
  if (FAILED(hr)) return hr;
  const ComPtr<ITypeInfo>* info = nullptr;
  if (iid == IKvDataPump::kIid)
    info = &cache.dataPump;
  else if (iid == IKvDRPump::kIid)
    info = &cache.drPump;
  else
    return TYPE_E_ELEMENTNOTFOUND;
  *ppTInfo = ComPtr<ITypeInfo>(*info).Detach();
  return S_OK;
}
