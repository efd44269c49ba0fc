#include "DispatchCall.h"

#include <vector>

#include "ComPtr.h"

namespace {

bool IsMissing(const VARIANTARG& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// A script passes its variables by reference (VT_BYREF | VT_VARIANT); the
// parameter wants what the variable holds.
const VARIANTARG* Dereferenced(const VARIANTARG* v) {
  return (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) ? v->pvarVal : v;
}

HRESULT PrepareDispatch(const VARIANTARG* v, VARIANTARG* out, ComPtr<IDispatch>* queried) {
  out->vt = VT_DISPATCH;
  out->pdispVal = nullptr;
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      return S_OK;
    case VT_DISPATCH:
      out->pdispVal = v->pdispVal;
      return S_OK;
    case VT_BYREF | VT_DISPATCH:
      out->pdispVal = v->ppdispVal ? *v->ppdispVal : nullptr;
      return S_OK;
    case VT_UNKNOWN:
    case VT_BYREF | VT_UNKNOWN: {
      IUnknown* unknown = v->vt == VT_UNKNOWN ? v->punkVal : (v->ppunkVal ? *v->ppunkVal : nullptr);
      if (!unknown) return S_OK;
      if (FAILED(unknown->QueryInterface(IID_IDispatch, queried->ReleaseAndGetVoidAddress())))
        return DISP_E_TYPEMISMATCH;
      out->pdispVal = queried->Get();
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Fills out (which the adapter reads, and which owns nothing) for a
// parameter of type vt from the caller's argument src. Converted values live
// in *converted, interfaces obtained by QueryInterface in *queried, until the
// call is over.
HRESULT PrepareArgument(VARTYPE vt, VARIANTARG* src, VARIANTARG* out, CComVariant* converted,
                        ComPtr<IDispatch>* queried) {
  if (vt == (VT_BYREF | VT_VARIANT)) {
    out->vt = VT_BYREF | VT_VARIANT;
    out->pvarVal = (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal) ? src->pvarVal : src;
    return S_OK;
  }
  const VARIANTARG* value = Dereferenced(src);
  if (vt == VT_VARIANT) {
    *out = *value;
    return S_OK;
  }
  if (IsMissing(*value)) return DISP_E_PARAMNOTFOUND;
  if (vt == VT_DISPATCH) return PrepareDispatch(value, out, queried);
  if (vt & VT_BYREF) {
    if (value->vt != vt) return DISP_E_TYPEMISMATCH;
    *out = *value;
    return S_OK;
  }
  HRESULT hr = VariantChangeType(converted, value, 0, vt);
  if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
  *out = *converted;
  return S_OK;
}

// Points the retval argument at the matching member of the result slot.
void BindResult(VARTYPE vt, CComVariant* result, VARIANTARG* arg) {
  arg->vt = VT_BYREF | vt;
  switch (vt) {
    case VT_VARIANT: arg->pvarVal = result; return;
    case VT_BSTR: result->vt = VT_BSTR; result->bstrVal = nullptr; arg->pbstrVal = &result->bstrVal; return;
    case VT_BOOL: result->vt = VT_BOOL; result->boolVal = VARIANT_FALSE; arg->pboolVal = &result->boolVal; return;
    case VT_I4: result->vt = VT_I4; result->lVal = 0; arg->plVal = &result->lVal; return;
    case VT_I2: result->vt = VT_I2; result->iVal = 0; arg->piVal = &result->iVal; return;
    case VT_R8: result->vt = VT_R8; result->dblVal = 0; arg->pdblVal = &result->dblVal; return;
    default: result->vt = vt; result->llVal = 0; arg->byref = &result->llVal; return;
  }
}

}  // namespace

HRESULT KvCallMember(const FUNCDESC& desc, KvMethodCall pfnCall, void* pvInstance,
                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                     UINT* puArgErr) {
  if (!pDispParams) return E_INVALIDARG;
  const DISPPARAMS& dp = *pDispParams;
  if ((dp.cArgs && !dp.rgvarg) || dp.cNamedArgs > dp.cArgs ||
      (dp.cNamedArgs && !dp.rgdispidNamedArgs))
    return E_INVALIDARG;

  const UINT cParams = static_cast<UINT>(desc.cParams);
  const bool hasRetval =
      cParams > 0 && (desc.lprgelemdescParam[cParams - 1].wParamFlags & PARAMFLAG_FRETVAL);
  const UINT cInputs = cParams - (hasRetval ? 1 : 0);
  if (dp.cArgs != cInputs) return DISP_E_BADPARAMCOUNT;

  // Which entry of rgvarg serves each parameter: named arguments first (they
  // lead rgvarg), then the positional ones, whose last entry is the first
  // argument.
  std::vector<UINT> source(cInputs, dp.cArgs);
  for (UINT k = 0; k < dp.cNamedArgs; ++k) {
    const DISPID id = dp.rgdispidNamedArgs[k];
    if (id < 0 || static_cast<UINT>(id) >= cInputs || source[id] != dp.cArgs) {
      if (puArgErr) *puArgErr = k;
      return DISP_E_PARAMNOTFOUND;
    }
    source[id] = k;
  }
  const UINT cPositional = dp.cArgs - dp.cNamedArgs;
  for (UINT i = 0; i < cPositional; ++i) {
    const UINT argIndex = dp.cArgs - 1 - i;
    if (source[i] != dp.cArgs) {
      if (puArgErr) *puArgErr = argIndex;
      return DISP_E_PARAMNOTFOUND;
    }
    source[i] = argIndex;
  }

  std::vector<VARIANTARG> args(cParams);
  for (VARIANTARG& a : args) VariantInit(&a);
  std::vector<CComVariant> converted(cInputs);
  std::vector<ComPtr<IDispatch>> queried(cInputs);
  for (UINT i = 0; i < cInputs; ++i) {
    HRESULT hr = PrepareArgument(desc.lprgelemdescParam[i].vt, &dp.rgvarg[source[i]], &args[i],
                                 &converted[i], &queried[i]);
    if (FAILED(hr)) {
      if (puArgErr) *puArgErr = source[i];
      return hr;
    }
  }

  CComVariant result;
  if (hasRetval)
    BindResult(static_cast<VARTYPE>(desc.lprgelemdescParam[cParams - 1].vt & ~VT_BYREF), &result,
               &args[cParams - 1]);

  const HRESULT hr = pfnCall(pvInstance, args.data());
  if (FAILED(hr)) {
    if (pExcepInfo) {
      *pExcepInfo = EXCEPINFO{};
      pExcepInfo->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  if (pVarResult) {
    VariantClear(pVarResult);
    if (hasRetval) result.Detach(pVarResult);
  }
  return S_OK;
}
