// Placeholder until the type library lands: late binding is not available yet.
#include "Dispatch.h"

HRESULT KvDispGetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return E_NOTIMPL;
}
HRESULT KvDispGetTypeInfo(REFIID, UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT KvDispGetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT KvDispInvoke(IDispatch*, REFIID, DISPID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                     UINT*) {
  return E_NOTIMPL;
}
