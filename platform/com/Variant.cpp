// VARIANT lifetime: initialise, clear, deep copy and dereferencing copy.
#include <cstring>

#include "OleAuto.h"
#include "VarTypeInfo.h"

namespace {

void SetEmpty(VARIANT* v) {
  std::memset(v, 0, sizeof(VARIANT));
  v->vt = VT_EMPTY;
}

HRESULT CopyBstr(BSTR source, BSTR* out) {
  *out = nullptr;
  if (!source) return S_OK;
  *out = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Copies an owned value of type vt (no VT_BYREF) from source into *dest,
// which the caller treats as raw storage.
HRESULT CopyOwnedValue(VARTYPE vt, const VARIANT& source, VARIANT* dest) {
  SetEmpty(dest);
  if (vt & VT_ARRAY) {
    SAFEARRAY* copy = nullptr;
    if (source.parray) {
      const HRESULT hr = SafeArrayCopy(source.parray, &copy);
      if (FAILED(hr)) return hr;
    }
    dest->parray = copy;
  } else if (vt == VT_BSTR) {
    const HRESULT hr = CopyBstr(source.bstrVal, &dest->bstrVal);
    if (FAILED(hr)) return hr;
  } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    dest->punkVal = source.punkVal;
    if (dest->punkVal) dest->punkVal->AddRef();
  } else {
    dest->llVal = source.llVal;
  }
  dest->vt = vt;
  return S_OK;
}

// Loads the value a by-reference variant points at into a by-value variant
// holding the same (not yet owned) bits.
HRESULT LoadReferencedValue(const VARIANT& source, VARIANT* shallow) {
  SetEmpty(shallow);
  const VARTYPE vt = source.vt & ~VT_BYREF;
  if (!source.byref) return E_POINTER;
  if (vt & VT_ARRAY) {
    shallow->parray = *source.pparray;
  } else {
    const size_t size = kvcom::ElementSize(vt);
    std::memcpy(&shallow->llVal, source.byref, size);
  }
  shallow->vt = vt;
  return S_OK;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg) SetEmpty(pvarg);
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_POINTER;
  const VARTYPE vt = pvarg->vt;
  if (!kvcom::IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      if (pvarg->parray) {
        const HRESULT hr = SafeArrayDestroy(pvarg->parray);
        if (FAILED(hr)) return hr;
      }
    } else if (vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      if (pvarg->punkVal) pvarg->punkVal->Release();
    }
  }
  SetEmpty(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_POINTER;
  if (pvargDest == pvargSrc) return S_OK;
  if (!kvcom::IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  // Copy first: the source may live inside what the destination owns.
  VARIANT copy;
  HRESULT hr;
  if (pvargSrc->vt & VT_BYREF) {
    copy = *pvargSrc;
    hr = S_OK;
  } else {
    hr = CopyOwnedValue(pvargSrc->vt, *pvargSrc, &copy);
  }
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (!pvarDest || !pvargSrc) return E_POINTER;
  if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
  if (!kvcom::IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (!pvargSrc->byref) return E_POINTER;

  VARIANT copy;
  HRESULT hr;
  if ((pvargSrc->vt & ~VT_BYREF) == VT_VARIANT) {
    const VARIANT* inner = pvargSrc->pvarVal;
    // One level of indirection is followed; a reference to a reference is
    // not a value.
    if (inner->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    VariantInit(&copy);
    hr = VariantCopyInd(&copy, inner);
  } else {
    VARIANT shallow;
    hr = LoadReferencedValue(*pvargSrc, &shallow);
    if (SUCCEEDED(hr)) hr = CopyOwnedValue(shallow.vt, shallow, &copy);
  }
  if (FAILED(hr)) return hr;
  if (pvarDest == pvargSrc) {
    // The source was a reference and owned nothing; just overwrite it.
    *pvarDest = copy;
    return S_OK;
  }
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvarDest = copy;
  return S_OK;
}
