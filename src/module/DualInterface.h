// The IDispatch half of the component's dual interfaces: each call finds the
// interface's type information in the module's type library and hands over
// to DispGetIDsOfNames / DispInvoke of platform/com (Dispatch.cpp), which do
// the dispatching. pInterface is the object's IKvDataPump* or IKvDRPump*,
// iid names which.
#pragma once

#include "../outside/Com.h"

HRESULT KvDispGetTypeInfoCount(UINT* pctinfo);
HRESULT KvDispGetTypeInfo(REFIID iid, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
HRESULT KvDispGetIDsOfNames(REFIID iid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                            DISPID* rgDispId);
HRESULT KvDispInvoke(IDispatch* pInterface, REFIID iid, DISPID dispIdMember, LCID lcid, WORD wFlags,
                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                     UINT* puArgErr);

// The IDispatch methods of a class whose dual interface is Interface (which
// names its id as Interface::kIid). Only IID_NULL is a valid riid.
template <typename Interface>
class KvDispatchImpl : public Interface {
 public:
  HRESULT GetTypeInfoCount(UINT* pctinfo) override { return KvDispGetTypeInfoCount(pctinfo); }

  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
    return KvDispGetTypeInfo(Interface::kIid, iTInfo, lcid, ppTInfo);
  }

  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return KvDispGetIDsOfNames(Interface::kIid, rgszNames, cNames, lcid, rgDispId);
  }

  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return KvDispInvoke(static_cast<Interface*>(this), Interface::kIid, dispIdMember, lcid, wFlags,
                        pDispParams, pVarResult, pExcepInfo, puArgErr);
  }
};
