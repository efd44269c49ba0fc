#include "bridge/MemberCall.h"

#include <cstdio>

#include "platform/com/ComError.h"
#include "platform/com/ObjBase.h"
#include "platform/host/TraceSinks.h"

namespace {

std::string HexCode(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Takes what an object's exception report says, frees its strings and
// gives the code that stands for the failure.
HRESULT TakeExceptionInfo(EXCEPINFO& info, std::string* detail) {
  if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  CComBSTR source = CComBSTR::Attach(info.bstrSource);
  CComBSTR description = CComBSTR::Attach(info.bstrDescription);
  CComBSTR helpFile = CComBSTR::Attach(info.bstrHelpFile);
  info.bstrSource = info.bstrDescription = info.bstrHelpFile = nullptr;
  *detail = description.ToUtf8();
  return FAILED(info.scode) ? info.scode : DISP_E_EXCEPTION;
}

}  // namespace

DispArgs::DispArgs(size_t count) : m_count(count) {
  if (count > kInline) m_more.resize(count);
  m_slots = count > kInline ? m_more.data() : m_inline;
  for (size_t i = 0; i < count; ++i) VariantInit(&m_slots[i]);
}

DispArgs::~DispArgs() {
  for (size_t i = 0; i < m_count; ++i) VariantClear(&m_slots[i]);
}

DISPPARAMS DispArgs::Params() { return DISPPARAMS{m_slots, nullptr, static_cast<UINT>(m_count), 0}; }

DISPPARAMS DispArgs::PutParams() { return DISPPARAMS{m_slots, &m_putId, static_cast<UINT>(m_count), 1}; }

std::string DescribeFailure(std::string_view label, std::string_view name, HRESULT hr, const std::string& detail) {
  std::string message(label);
  if (!name.empty()) message.append(".").append(name);
  const std::string text = detail.empty() ? ComErrorText(hr) : detail;
  message += ": " + text;
  // "Unknown error 0x800A0E78" names its code already.
  if (text.find(HexCode(hr)) == std::string::npos) message += " (" + HexCode(hr) + ")";
  return message;
}

bool FindMember(IDispatch* object, std::string_view label, std::string_view name, DISPID* dispid,
                ComFailure* failure) {
  CComBSTR wide(name);
  LPOLESTR names[] = {wide.Get()};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, dispid);
  if (SUCCEEDED(hr)) return true;
  failure->hr = hr;
  if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND)
    failure->message =
        std::string(label) + " has no method or property named '" + std::string(name) + "' (" + HexCode(hr) + ")";
  else
    failure->message = DescribeFailure(label, name, hr, "");
  return false;
}

bool CallMember(IDispatch* object, std::string_view label, std::string_view name, DISPID dispid, WORD flags,
                DispArgs& args, VARIANT* result, ComFailure* failure) {
  DISPPARAMS params = (flags & DISPATCH_PROPERTYPUT) ? args.PutParams() : args.Params();
  EXCEPINFO info{};
  UINT argErr = 0;
  KvResetCallTrace();
  HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                              &info, &argErr);
  if (SUCCEEDED(hr)) return true;
  failure->hr = hr;
  // Reading a member without arguments is how a page's object.Name finds
  // out whether Name is a plain property; for a method the answer is no
  // failure of the page, and its message would never be seen.
  if (flags == DISPATCH_PROPERTYGET && args.Count() == 0 && IsNotAPlainProperty(hr)) return false;
  std::string detail;
  if (hr == DISP_E_EXCEPTION) {
    hr = TakeExceptionInfo(info, &detail);
  } else if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND ||
              hr == DISP_E_OVERFLOW) &&
             argErr < args.Count()) {
    // The callee counts arguments from the last one, as DISPPARAMS holds them.
    detail = "argument " + std::to_string(args.Count() - argErr) + ": " + ComErrorText(hr);
  }
  failure->hr = hr;
  failure->message = DescribeFailure(label, name, hr, detail);
  // The component reports many failures only through its trace; its last
  // line of this call says why.
  if (std::string trace = KvLastCallTraceText(); !trace.empty() && trace != detail)
    failure->message += "; trace: " + trace;
  return false;
}

bool CreateObjectByProgId(const std::string& progId, ComPtr<IDispatch>* object,
                          ComFailure* failure) {
  std::u16string wide = Utf8ToUtf16(progId);
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) {
    failure->hr = hr;
    failure->message = "Server.CreateObject: no class is registered for the ProgID '" +
                       progId + "' (" + HexCode(hr) + ")";
    return false;
  }
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                        object->ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr) && !*object) hr = E_POINTER;
  if (FAILED(hr)) {
    failure->hr = hr;
    failure->message = "Server.CreateObject('" + progId + "'): " + ComErrorText(hr) + " (" +
                       HexCode(hr) + ")";
    return false;
  }
  return true;
}

bool IsNotAPlainProperty(HRESULT hr) {
  return hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTFOUND;
}
