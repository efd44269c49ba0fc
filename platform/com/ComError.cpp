// _com_error, the per-thread error information slot and raising COM failures.
#include "ComError.h"

#include <cstdint>
#include <cstdio>

#include "SystemMessages.h"

namespace {

// The error information set on this thread and not yet taken.
thread_local ComPtr<IErrorInfo> t_errorInfo;

}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) : m_hr(hr), m_perrinfo(perrinfo) {
  if (m_perrinfo && fAddRef) m_perrinfo->AddRef();
}

_com_error::_com_error(const _com_error& that) : m_hr(that.m_hr), m_perrinfo(that.m_perrinfo) {
  if (m_perrinfo) m_perrinfo->AddRef();
}

_com_error& _com_error::operator=(const _com_error& that) {
  if (this != &that) {
    if (that.m_perrinfo) that.m_perrinfo->AddRef();
    if (m_perrinfo) m_perrinfo->Release();
    SysFreeString(m_bstrDescription);
    m_bstrDescription = nullptr;
    m_bDescriptionFetched = false;
    m_hr = that.m_hr;
    m_perrinfo = that.m_perrinfo;
  }
  return *this;
}

_com_error::~_com_error() {
  SysFreeString(m_bstrDescription);
  if (m_perrinfo) m_perrinfo->Release();
}

IErrorInfo* _com_error::ErrorInfo() const {
  if (m_perrinfo) m_perrinfo->AddRef();
  return m_perrinfo;
}

BSTR _com_error::Description() const {
  if (!m_bDescriptionFetched) {
    m_bDescriptionFetched = true;
    if (m_perrinfo) {
      BSTR description = nullptr;
      if (SUCCEEDED(m_perrinfo->GetDescription(&description)))
        m_bstrDescription = description;
      else
        SysFreeString(description);
    }
  }
  return m_bstrDescription;
}

void ThrowComFailure(HRESULT hr, IUnknown* pObject, REFIID iid) {
  // Error information counts only when the object vouches for it on this
  // interface; otherwise a stale entry of an unrelated call could be taken.
  if (pObject) {
    ComPtr<ISupportErrorInfo> support;
    if (SUCCEEDED(pObject->QueryInterface(ISupportErrorInfo::kIid, support.ReleaseAndGetVoidAddress())) &&
        support && support->InterfaceSupportsErrorInfo(iid) == S_OK) {
      IErrorInfo* info = nullptr;
      if (GetErrorInfo(0, &info) == S_OK && info) throw _com_error(hr, info, false);
    }
  }
  throw _com_error(hr);
}

HRESULT SetErrorInfo(ULONG /*dwReserved*/, IErrorInfo* perrinfo) {
  t_errorInfo = ComPtr<IErrorInfo>(perrinfo);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG /*dwReserved*/, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_POINTER;
  *pperrinfo = t_errorInfo.Detach();
  return *pperrinfo ? S_OK : S_FALSE;
}

std::string ComErrorText(HRESULT hr) {
  std::string text = SystemMessageText(static_cast<DWORD>(hr));
  if (!text.empty()) {
    if (text.size() > 1 && text.back() == '\n') {
      text.pop_back();
      if (text.back() == '\r') text.pop_back();
    }
    return text;
  }
  // Interface-defined codes from 0x80040200 on are numbered from there.
  const uint32_t code = static_cast<uint32_t>(hr);
  char buffer[32];
  if (code >= 0x80040200u && code <= 0x8004FFFFu && code - 0x80040200u != 0)
    std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
  else
    std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  return buffer;
}
