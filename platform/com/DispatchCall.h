// The argument work of a late-bound call, shared by every type information
// object: matching DISPPARAMS to the declared parameters, coercing them,
// calling the member's adapter and handing back its [out, retval] result.
#pragma once

#include "TypeInfo.h"

// desc describes the member (its parameters in declaration order, an
// [out, retval] parameter last); pfnCall runs it on pvInstance. The results
// are those of DispInvoke once the member has been found.
HRESULT KvCallMember(const FUNCDESC& desc, KvMethodCall pfnCall, void* pvInstance,
                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                     UINT* puArgErr);
