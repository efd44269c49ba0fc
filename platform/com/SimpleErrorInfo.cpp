// A plain error-information object carrying a description and a source.
#include <atomic>
#include <new>

#include "ComError.h"

namespace {

class SimpleErrorInfo final : public IErrorInfo {
 public:
  SimpleErrorInfo(CComBSTR description, CComBSTR source)
      : m_description(std::move(description)), m_source(std::move(source)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IUnknown::kIid || riid == IErrorInfo::kIid) {
      *ppv = static_cast<IErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_POINTER;
    *pGUID = GUID_NULL;
    return S_OK;
  }
  HRESULT GetSource(BSTR* pBstrSource) override { return CopyOut(m_source, pBstrSource); }
  HRESULT GetDescription(BSTR* pBstrDescription) override {
    return CopyOut(m_description, pBstrDescription);
  }
  HRESULT GetHelpFile(BSTR* pBstrHelpFile) override {
    if (!pBstrHelpFile) return E_POINTER;
    *pBstrHelpFile = nullptr;
    return S_OK;
  }
  HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
    if (!pdwHelpContext) return E_POINTER;
    *pdwHelpContext = 0;
    return S_OK;
  }

 private:
  static HRESULT CopyOut(const CComBSTR& text, BSTR* out) {
    if (!out) return E_POINTER;
    CComBSTR copy(text);
    if (text.Get() && !copy.Get()) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    *out = copy.Detach();
    return S_OK;
  }

  std::atomic<ULONG> m_refs{1};
  CComBSTR m_description;
  CComBSTR m_source;
};

}  // namespace

HRESULT CreateSimpleErrorInfo(std::string_view description, std::string_view source, IErrorInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CComBSTR bstrDescription(description);
  CComBSTR bstrSource(source);
  if (!bstrDescription.Get() || !bstrSource.Get()) return E_OUTOFMEMORY;
  auto* info = new (std::nothrow) SimpleErrorInfo(std::move(bstrDescription), std::move(bstrSource));
  if (!info) return E_OUTOFMEMORY;
  *out = info;
  return S_OK;
}
