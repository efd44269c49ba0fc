// A small COM object for the tests: counts its references and records its
// destruction, so tests can check that copies AddRef and clears Release.
#pragma once

#include <atomic>

#include "platform/com/Unknwn.h"

class CountingObject : public IDispatch {
 public:
  // *destroyed is set when the last reference goes.
  explicit CountingObject(bool* destroyed = nullptr) : m_destroyed(destroyed) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IUnknown::kIid || riid == IDispatch::kIid) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      if (m_destroyed) *m_destroyed = true;
      delete this;
    }
    return left;
  }
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  ULONG Refs() const { return m_refs; }

 protected:
  virtual ~CountingObject() = default;

 private:
  std::atomic<ULONG> m_refs{1};
  bool* m_destroyed;
};
