#include "DualInterface.h"

#include "TypeLibrary.h"

HRESULT KvDispGetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 1;
  return S_OK;
}

// The library has one locale, which serves every caller's locale.
HRESULT KvDispGetTypeInfo(REFIID iid, UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
  if (!ppTInfo) return E_POINTER;
  *ppTInfo = nullptr;
  if (iTInfo != 0) return DISP_E_BADINDEX;
  return KvGetTypeInfo(iid, ppTInfo);
}

HRESULT KvDispGetIDsOfNames(REFIID iid, LPOLESTR* rgszNames, UINT cNames, LCID,
                            DISPID* rgDispId) {
  ComPtr<ITypeInfo> info;
  HRESULT hr = KvGetTypeInfo(iid, info.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(info.Get(), rgszNames, cNames, rgDispId);
}

HRESULT KvDispInvoke(IDispatch* pInterface, REFIID iid, DISPID dispIdMember, LCID, WORD wFlags,
                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                     UINT* puArgErr) {
  ComPtr<ITypeInfo> info;
  HRESULT hr = KvGetTypeInfo(iid, info.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return DispInvoke(pInterface, info.Get(), dispIdMember, wFlags, pDispParams, pVarResult,
                    pExcepInfo, puArgErr);
}
