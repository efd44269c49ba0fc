// IDispatch for the component's dual interfaces, driven by the module's type
// library: names to dispatch ids, argument coercion to the parameter types
// and [out, retval] results. pInterface is the object's IKvDataPump* or
// IKvDRPump*, iid names which.
#pragma once

#include "../outside/Com.h"

HRESULT KvDispGetTypeInfoCount(UINT* pctinfo);
HRESULT KvDispGetTypeInfo(REFIID iid, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
HRESULT KvDispGetIDsOfNames(REFIID iid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                            DISPID* rgDispId);
HRESULT KvDispInvoke(IDispatch* pInterface, REFIID iid, DISPID dispIdMember, LCID lcid, WORD wFlags,
                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                     UINT* puArgErr);
