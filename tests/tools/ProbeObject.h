// A small late-bound object for driving the script bridge in-process. It
// checks invoke flags strictly, as type-library dispatch does: methods
// answer DISPATCH_METHOD only, properties DISPATCH_PROPERTYGET/PUT only.
//
//   Echo(v)       method: returns v unchanged
//   TypeOf(v)     method: returns v's VARTYPE as VT_I4
//   Make(vt)      method: returns a sample value of type vt
//   Fail(hr)      method: returns hr as the call's HRESULT
//   Raise(text)   method: fails with DISP_E_EXCEPTION, description text, scode E_ACCESSDENIED
//   Self          property get: this object
//   Count         property get: how often a method ran
//   Label         property get / put
//   Item(i)       property get with a required argument: i * 10
#pragma once

#include <string>

#include "platform/com/ComPtr.h"

class ProbeObject final : public IDispatch {
 public:
  static ComPtr<ProbeObject> Create();

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  ULONG References() const { return m_refs; }
  long MethodRuns() const { return m_methodRuns; }

 private:
  ProbeObject() = default;
  HRESULT RunMethod(DISPID id, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info);

  ULONG m_refs = 0;
  long m_methodRuns = 0;
  std::string m_label = "probe";
};
