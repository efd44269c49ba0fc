// IDispatch on type information, in the order a late-bound call takes:
//
//   DispGetIDsOfNames -> ITypeInfo::GetIDsOfNames -> KvDispMatchNames
//     the member name, then its parameter names, matched without regard to
//     case;
//   DispInvoke -> ITypeInfo::Invoke -> KvDispInvokeMember
//     the member found by dispatch id and invoke kind, the caller's
//     arguments (last first in rgvarg, named ones leading) put in
//     declaration order, each coerced to its parameter type, the [out,
//     retval] parameter bound to a result slot, the module's call adapter
//     run, and its result handed back in pVarResult.
//
// The type information objects themselves (TypeLib.cpp) only hold the
// members and forward to the two functions here.
#include "Dispatch.h"

#include <new>
#include <vector>

#include "AsciiCase.h"
#include "ComPtr.h"
#include "OleAuto.h"

namespace {

std::string NameFrom(LPOLESTR name) {
  if (!name) return std::string();
  size_t n = 0;
  while (name[n]) ++n;
  return Utf16ToUtf8(name, n);
}

HRESULT MatchNames(const KvDispMembers& members, LPOLESTR* rgszNames, UINT cNames,
                   MEMBERID* pMemId) {
  const std::string name = NameFrom(rgszNames[0]);
  const KvDispMember* found = nullptr;
  for (const auto& m : members) {
    if (EqualsIgnoringAsciiCase(m->name, name)) {
      found = m.get();
      break;
    }
  }
  if (!found) return DISP_E_UNKNOWNNAME;
  pMemId[0] = found->desc.memid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < cNames; ++i) {
    const std::string param = NameFrom(rgszNames[i]);
    bool matched = false;
    for (size_t p = 0; p < found->paramNames.size(); ++p) {
      if (EqualsIgnoringAsciiCase(found->paramNames[p], param)) {
        pMemId[i] = static_cast<MEMBERID>(p);
        matched = true;
        break;
      }
    }
    if (!matched) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

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

// The argument work of one call of the member desc describes: pfnCall runs
// it on pvInstance.
HRESULT CallMember(const FUNCDESC& desc, KvMethodCall pfnCall, void* pvInstance,
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

}  // namespace

HRESULT KvDispMatchNames(const KvDispMembers& members, LPOLESTR* rgszNames, UINT cNames,
                         MEMBERID* pMemId) {
  if (!rgszNames || !pMemId) return E_POINTER;
  if (cNames == 0) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
  try {
    return MatchNames(members, rgszNames, cNames, pMemId);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT KvDispInvokeMember(const KvDispMembers& members, void* pvInstance, MEMBERID memid,
                           WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (!pvInstance) return E_INVALIDARG;
  for (const auto& m : members) {
    if (m->desc.memid == memid && (m->desc.invkind & wFlags)) {
      try {
        return CallMember(m->desc, m->call, pvInstance, pDispParams, pVarResult, pExcepInfo,
                          puArgErr);
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      }
    }
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid) {
  if (!ptinfo) return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT DispInvoke(void* pvInstance, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                   DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                   UINT* puArgErr) {
  if (!ptinfo) return E_INVALIDARG;
  return ptinfo->Invoke(pvInstance, dispidMember, wFlags, pparams, pvarResult, pexcepinfo,
                        puArgErr);
}
