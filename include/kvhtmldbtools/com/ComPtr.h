// Owners for COM resources: ComPtr for interface pointers, CComBSTR for BSTRs
// and CComVariant for VARIANTs. Each releases what it holds on every way out.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "OleAuto.h"
#include "Unknwn.h"

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    if (this != &o) {
      ComPtr tmp(o);
      Swap(tmp);
    }
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      m_p = std::exchange(o.m_p, nullptr);
    }
    return *this;
  }
  // Adopts a pointer whose reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.m_p = p;
    return r;
  }
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // For out-parameters: releases the current pointer first.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &m_p;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }
  template <typename U>
  HRESULT As(ComPtr<U>* out) const {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(U::kIid, out->ReleaseAndGetVoidAddress());
  }

 private:
  T* m_p = nullptr;
};

class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(std::string_view utf8);
  explicit CComBSTR(const OLECHAR* psz);
  CComBSTR(const CComBSTR& o);
  CComBSTR(CComBSTR&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
  ~CComBSTR() { SysFreeString(m_str); }
  CComBSTR& operator=(const CComBSTR& o);
  CComBSTR& operator=(CComBSTR&& o) noexcept;
  static CComBSTR Attach(BSTR b) {
    CComBSTR r;
    r.m_str = b;
    return r;
  }
  BSTR Detach() { return std::exchange(m_str, nullptr); }
  BSTR Get() const { return m_str; }
  BSTR* operator&() {  // for out-parameters; frees the current string first
    SysFreeString(m_str);
    m_str = nullptr;
    return &m_str;
  }
  UINT Length() const { return SysStringLen(m_str); }
  std::string ToUtf8() const { return Utf8FromBstr(m_str); }

 private:
  BSTR m_str = nullptr;
};

class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  CComVariant(const VARIANT& v);  // deep copy; on failure VT_ERROR with the code
  CComVariant(const CComVariant& v) : CComVariant(static_cast<const VARIANT&>(v)) {}
  CComVariant(CComVariant&& v) noexcept;
  explicit CComVariant(LONG l) { VariantInit(this); vt = VT_I4; lVal = l; }
  explicit CComVariant(double d) { VariantInit(this); vt = VT_R8; dblVal = d; }
  explicit CComVariant(std::string_view utf8);  // VT_BSTR
  static CComVariant Bool(bool b) {
    CComVariant v;
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  static CComVariant Null() {
    CComVariant v;
    v.vt = VT_NULL;
    return v;
  }
  ~CComVariant() { VariantClear(this); }
  CComVariant& operator=(const VARIANT& v);
  CComVariant& operator=(const CComVariant& v) { return *this = static_cast<const VARIANT&>(v); }
  CComVariant& operator=(CComVariant&& v) noexcept;
  HRESULT Clear() { return VariantClear(this); }
  HRESULT ChangeType(VARTYPE vtNew) { return VariantChangeType(this, this, 0, vtNew); }
  // Moves the content out into *pDest (cleared first); this becomes VT_EMPTY.
  HRESULT Detach(VARIANT* pDest);
};
