// SAFEARRAY: a descriptor with its bounds, and one block of elements.
//
// Layout follows OLE so code that walks the raw data agrees with it: the
// bounds in the descriptor are stored last dimension first, and in the data
// block the first index varies fastest.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "OleAuto.h"
#include "VarTypeInfo.h"

namespace {

constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;
constexpr ULONG kMaxLocks = 0xFFFF;

USHORT FeaturesOf(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_HAVEVARTYPE | FADF_VARIANT;
    default:
      return FADF_HAVEVARTYPE;
  }
}

// The bound of dimension d (0 = first dimension as the caller numbers it).
SAFEARRAYBOUND& BoundOf(SAFEARRAY* psa, UINT d) { return psa->rgsabound[psa->cDims - 1 - d]; }

size_t ElementCount(SAFEARRAY* psa) {
  size_t n = 1;
  for (UINT d = 0; d < psa->cDims; ++d) n *= psa->rgsabound[d].cElements;
  return n;
}

void* ElementAt(SAFEARRAY* psa, size_t index) {
  return static_cast<unsigned char*>(psa->pvData) + index * psa->cbElements;
}

// The linear position of rgIndices, or false when one is out of bounds.
bool LinearIndex(SAFEARRAY* psa, const LONG* rgIndices, size_t* out) {
  size_t index = 0;
  for (UINT d = psa->cDims; d-- > 0;) {
    const SAFEARRAYBOUND& b = BoundOf(psa, d);
    const int64_t offset = static_cast<int64_t>(rgIndices[d]) - b.lLbound;
    if (offset < 0 || offset >= static_cast<int64_t>(b.cElements)) return false;
    index = index * b.cElements + static_cast<size_t>(offset);
  }
  *out = index;
  return true;
}

void ReleaseElement(VARTYPE vt, void* element) {
  switch (vt) {
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(element));
      break;
    case VT_BSTR:
      SysFreeString(*static_cast<BSTR*>(element));
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (auto* unk = *static_cast<IUnknown**>(element)) unk->Release();
      break;
    default:
      break;
  }
  std::memset(element, 0, kvcom::ElementSize(vt));
}

// Copies one element from a value held in storage of the element type into
// raw (uninitialised) storage.
HRESULT CopyElement(VARTYPE vt, const void* from, void* to) {
  switch (vt) {
    case VT_VARIANT: {
      auto* dest = static_cast<VARIANT*>(to);
      VariantInit(dest);
      return VariantCopy(dest, static_cast<const VARIANT*>(from));
    }
    case VT_BSTR: {
      BSTR source = *static_cast<const BSTR*>(from);
      BSTR copy = nullptr;
      if (source) {
        copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
        if (!copy) return E_OUTOFMEMORY;
      }
      *static_cast<BSTR*>(to) = copy;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* unk = *static_cast<IUnknown* const*>(from);
      if (unk) unk->AddRef();
      *static_cast<IUnknown**>(to) = unk;
      return S_OK;
    }
    default:
      std::memcpy(to, from, kvcom::ElementSize(vt));
      return S_OK;
  }
}

void DestroyElements(SAFEARRAY* psa) {
  if (!psa->pvData) return;
  const size_t n = ElementCount(psa);
  for (size_t i = 0; i < n; ++i) ReleaseElement(psa->vt, ElementAt(psa, i));
}

void FreeArray(SAFEARRAY* psa) {
  std::free(psa->pvData);
  std::free(psa);
}

// Holds a lock on the array for the duration of an element access, so a
// Destroy from inside a callback (an element's Release) cannot free it.
class ScopedLock {
 public:
  explicit ScopedLock(SAFEARRAY* psa) : m_psa(psa), m_hr(SafeArrayLock(psa)) {}
  ~ScopedLock() {
    if (SUCCEEDED(m_hr)) SafeArrayUnlock(m_psa);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  HRESULT Result() const { return m_hr; }

 private:
  SAFEARRAY* m_psa;
  HRESULT m_hr;
};

// Storage for one element passed to Put or taken from Get: variants and
// plain values by pointer, BSTRs and interfaces as the pointer itself.
const void* PutSource(VARTYPE vt, const void* const& pv) {
  if (vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH) return &pv;
  return pv;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
  const size_t elementSize = kvcom::ElementSize(vt);
  if (elementSize == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;
  size_t total = 1;
  for (UINT d = 0; d < cDims; ++d) {
    const size_t n = rgsabound[d].cElements;
    if (n != 0 && total > std::numeric_limits<size_t>::max() / n) return nullptr;
    total *= n;
  }
  if (total != 0 && elementSize > std::numeric_limits<size_t>::max() / total) return nullptr;
  const size_t bytes = total * elementSize;
  if (bytes > std::numeric_limits<uint32_t>::max()) return nullptr;

  const size_t descriptor = sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* psa = static_cast<SAFEARRAY*>(std::calloc(1, descriptor));
  if (!psa) return nullptr;
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = FeaturesOf(vt);
  psa->cbElements = static_cast<ULONG>(elementSize);
  psa->vt = vt;
  for (UINT d = 0; d < cDims; ++d) BoundOf(psa, d) = rgsabound[d];
  // calloc zeroes the block: all-zero bits are VT_EMPTY variants, null BSTRs
  // and null interfaces, so the new array holds valid empty elements.
  psa->pvData = std::calloc(bytes ? bytes : 1, 1);
  if (!psa->pvData) {
    std::free(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  const SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  // Elements may call back into user code (Release); keep the array locked
  // meanwhile so it cannot be destroyed twice.
  ++psa->cLocks;
  DestroyElements(psa);
  FreeArray(psa);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_POINTER;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  const size_t descriptor = sizeof(SAFEARRAY) + (psa->cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* copy = static_cast<SAFEARRAY*>(std::calloc(1, descriptor));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy, psa, descriptor);
  copy->cLocks = 0;
  const size_t n = ElementCount(psa);
  copy->pvData = std::calloc(n ? n * psa->cbElements : 1, 1);
  if (!copy->pvData) {
    std::free(copy);
    return E_OUTOFMEMORY;
  }
  ScopedLock lock(psa);
  if (FAILED(lock.Result())) {
    FreeArray(copy);
    return lock.Result();
  }
  for (size_t i = 0; i < n; ++i) {
    const HRESULT hr = CopyElement(psa->vt, ElementAt(psa, i), ElementAt(copy, i));
    if (FAILED(hr)) {
      DestroyElements(copy);
      FreeArray(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!pvt) return E_POINTER;
  if (!psa) return E_INVALIDARG;
  *pvt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!plLbound) return E_POINTER;
  if (!psa) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = BoundOf(psa, nDim - 1).lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!plUbound) return E_POINTER;
  if (!psa) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = BoundOf(psa, nDim - 1);
  const int64_t upper = static_cast<int64_t>(b.lLbound) + b.cElements - 1;
  if (upper > std::numeric_limits<LONG>::max()) return DISP_E_OVERFLOW;
  *plUbound = static_cast<LONG>(upper);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv) {
  if (!pv || !rgIndices) return E_POINTER;
  if (!psa) return E_INVALIDARG;
  size_t index;
  if (!LinearIndex(psa, rgIndices, &index)) return DISP_E_BADINDEX;
  ScopedLock lock(psa);
  if (FAILED(lock.Result())) return lock.Result();
  // The destination is raw storage: whatever it held is not released.
  return CopyElement(psa->vt, ElementAt(psa, index), pv);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv) {
  if (!rgIndices) return E_POINTER;
  if (!psa) return E_INVALIDARG;
  const bool pointerType = psa->vt == VT_BSTR || psa->vt == VT_UNKNOWN || psa->vt == VT_DISPATCH;
  if (!pv && !pointerType) return E_POINTER;
  size_t index;
  if (!LinearIndex(psa, rgIndices, &index)) return DISP_E_BADINDEX;
  ScopedLock lock(psa);
  if (FAILED(lock.Result())) return lock.Result();
  // Build the new element aside, then swap it in and release the old one.
  alignas(VARIANT) unsigned char fresh[sizeof(VARIANT)];
  const HRESULT hr = CopyElement(psa->vt, PutSource(psa->vt, pv), fresh);
  if (FAILED(hr)) return hr;
  alignas(VARIANT) unsigned char old[sizeof(VARIANT)];
  void* slot = ElementAt(psa, index);
  std::memcpy(old, slot, psa->cbElements);
  std::memcpy(slot, fresh, psa->cbElements);
  ReleaseElement(psa->vt, old);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks >= kMaxLocks) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!ppvData) return E_POINTER;
  *ppvData = nullptr;
  const HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }
