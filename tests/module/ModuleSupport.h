// What the module tests share: the module registered in a temporary class
// registry (once per test program), creation by ProgID, and late-bound
// calls by name, the way a page script makes them.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TypeInfo.h"

#ifndef KV_MODULE_PATH
#error "KV_MODULE_PATH must name the built component module"
#endif

// The object of a class created by ProgID, as IDispatch; fails the test when
// creation fails.
ComPtr<IDispatch> CreateByProgId(const char16_t* progId);

// The module's own answer to DllCanUnloadNow (S_OK also when it is not loaded).
HRESULT ModuleCanUnloadNow();

// Argument builders.
CComVariant VLong(LONG v);
CComVariant VText(const char* utf8);
CComVariant VBool(bool v);
CComVariant VDispatch(IDispatch* p);
CComVariant VMissing();  // how a script passes an argument it left out
CComVariant VEmpty();
// A one-dimensional VT_ARRAY | VT_VARIANT of texts.
CComVariant VTextArray(std::initializer_list<const char*> texts);

std::string TextOf(const VARIANT& v);  // VT_BSTR as UTF-8; fails the test for other types

// Late-bound calls on one object.
class LateBound {
 public:
  explicit LateBound(ComPtr<IDispatch> object) : m_object(std::move(object)) {}

  DISPID Id(const char* name) const;
  // Calls member `name` with args in their natural order (the first
  // argument first), as a script call (DISPATCH_METHOD | DISPATCH_PROPERTYGET)
  // unless flags say otherwise. args are passed in place, so a VARIANT*
  // parameter sees (and may change) them.
  HRESULT Call(const char* name, std::vector<CComVariant>& args, CComVariant* result = nullptr,
               WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET, UINT* argErr = nullptr,
               EXCEPINFO* excepInfo = nullptr) const;
  HRESULT Call(const char* name, std::initializer_list<CComVariant> args,
               CComVariant* result = nullptr) const;
  // The [out, retval] result of a call that must succeed.
  CComVariant Get(const char* name, std::initializer_list<CComVariant> args = {}) const;

  HRESULT InvokeId(DISPID id, WORD flags, std::vector<CComVariant>& args, CComVariant* result,
                   UINT* argErr = nullptr, EXCEPINFO* excepInfo = nullptr) const;

  IDispatch* Object() const { return m_object.Get(); }

 private:
  ComPtr<IDispatch> m_object;
};

