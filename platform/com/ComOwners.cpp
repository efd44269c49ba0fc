// The owning wrappers CComBSTR and CComVariant.
#include <cstring>
#include <memory>

#include "ComPtr.h"

namespace {

BSTR CopyOf(BSTR b) {
  if (!b) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<const char*>(b), SysStringByteLen(b));
}

// A VARIANT that carries the failure of an operation instead of its value.
void SetError(VARIANT* v, HRESULT hr) {
  VariantInit(v);
  v->vt = VT_ERROR;
  v->scode = hr;
}

}  // namespace

CComBSTR::CComBSTR(std::string_view utf8) : m_str(BstrFromUtf8(utf8)) {}

CComBSTR::CComBSTR(const OLECHAR* psz) : m_str(SysAllocString(psz)) {}

CComBSTR::CComBSTR(const CComBSTR& o) : m_str(CopyOf(o.m_str)) {}

CComBSTR& CComBSTR::operator=(const CComBSTR& o) {
  if (this != std::addressof(o)) {
    BSTR copy = CopyOf(o.m_str);
    SysFreeString(m_str);
    m_str = copy;
  }
  return *this;
}

CComBSTR& CComBSTR::operator=(CComBSTR&& o) noexcept {
  if (this != std::addressof(o)) {
    SysFreeString(m_str);
    m_str = std::exchange(o.m_str, nullptr);
  }
  return *this;
}

CComVariant::CComVariant(const VARIANT& v) {
  VariantInit(this);
  const HRESULT hr = VariantCopy(this, &v);
  if (FAILED(hr)) SetError(this, hr);
}

CComVariant::CComVariant(CComVariant&& v) noexcept {
  std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&v), sizeof(VARIANT));
  VariantInit(&v);
}

CComVariant::CComVariant(std::string_view utf8) {
  VariantInit(this);
  bstrVal = BstrFromUtf8(utf8);
  if (bstrVal)
    vt = VT_BSTR;
  else
    SetError(this, E_OUTOFMEMORY);
}

CComVariant& CComVariant::operator=(const VARIANT& v) {
  if (static_cast<VARIANT*>(this) != &v) {
    const HRESULT hr = VariantCopy(this, &v);
    if (FAILED(hr)) {
      VariantClear(this);
      SetError(this, hr);
    }
  }
  return *this;
}

CComVariant& CComVariant::operator=(CComVariant&& v) noexcept {
  if (this != &v) {
    VariantClear(this);
    std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&v), sizeof(VARIANT));
    VariantInit(&v);
  }
  return *this;
}

HRESULT CComVariant::Detach(VARIANT* pDest) {
  if (!pDest) return E_POINTER;
  if (pDest == this) return S_OK;
  const HRESULT hr = VariantClear(pDest);
  if (FAILED(hr)) return hr;
  std::memcpy(pDest, static_cast<VARIANT*>(this), sizeof(VARIANT));
  VariantInit(this);
  return S_OK;
}
