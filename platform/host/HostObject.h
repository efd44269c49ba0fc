// What every object of the host stand-ins shares: a thread-safe reference
// count and the minimal IDispatch of objects that are reached by vtable
// only. The first interface listed keeps COM's vtable layout; the virtual
// destructor is appended after its methods.
#pragma once

#include <atomic>

#include "../com/Unknwn.h"

template <typename... Interfaces>
class KvHostObject : public Interfaces... {
 public:
  ULONG AddRef() override { return ++m_ref; }
  ULONG Release() override {
    const ULONG left = --m_ref;
    if (left == 0) delete this;
    return left;
  }

 protected:
  KvHostObject() = default;
  virtual ~KvHostObject() = default;

  // Hands out one more reference as the requested interface.
  template <typename I>
  HRESULT Offer(I* p, void** ppv) {
    *ppv = p;
    AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> m_ref{1};
};

// IDispatch for objects without type information: callers use their vtable.
#define KV_HOST_MINIMAL_DISPATCH                                                              \
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {                                         \
    if (!pctinfo) return E_POINTER;                                                          \
    *pctinfo = 0;                                                                            \
    return S_OK;                                                                             \
  }                                                                                          \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {                            \
    if (ppTInfo) *ppTInfo = nullptr;                                                         \
    return E_NOTIMPL;                                                                        \
  }                                                                                          \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) override {   \
    for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;              \
    return DISP_E_UNKNOWNNAME;                                                               \
  }                                                                                          \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return DISP_E_MEMBERNOTFOUND;                                                            \
  }
