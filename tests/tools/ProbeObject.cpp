#include "ProbeObject.h"

#include <strings.h>

namespace {

enum : DISPID { kEcho = 1, kTypeOf, kMake, kFail, kRaise, kSelf, kCount, kLabel, kItem };

struct Member {
  const char* name;
  DISPID id;
  WORD kinds;  // the invoke flags the member answers
};

constexpr Member kMembers[] = {
    {"Echo", kEcho, DISPATCH_METHOD},
    {"TypeOf", kTypeOf, DISPATCH_METHOD},
    {"Make", kMake, DISPATCH_METHOD},
    {"Fail", kFail, DISPATCH_METHOD},
    {"Raise", kRaise, DISPATCH_METHOD},
    {"Self", kSelf, DISPATCH_PROPERTYGET},
    {"Count", kCount, DISPATCH_PROPERTYGET},
    {"Label", kLabel, DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT},
    {"Item", kItem, DISPATCH_PROPERTYGET},
};

const Member* FindMember(DISPID id) {
  for (const Member& m : kMembers)
    if (m.id == id) return &m;
  return nullptr;
}

}  // namespace

ComPtr<ProbeObject> ProbeObject::Create() { return ComPtr<ProbeObject>(new ProbeObject()); }

HRESULT ProbeObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG ProbeObject::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT ProbeObject::GetTypeInfoCount(UINT* pctinfo) {
  *pctinfo = 0;
  return S_OK;
}

HRESULT ProbeObject::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
  if (cNames != 1) return E_INVALIDARG;
  std::string name = Utf16ToUtf8(rgszNames[0], std::char_traits<char16_t>::length(rgszNames[0]));
  for (const Member& m : kMembers) {
    if (strcasecmp(m.name, name.c_str()) == 0) {
      *rgDispId = m.id;
      return S_OK;
    }
  }
  *rgDispId = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT ProbeObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* info, UINT* puArgErr) {
  const Member* member = FindMember(dispIdMember);
  if (!member || !(member->kinds & wFlags)) return DISP_E_MEMBERNOTFOUND;
  const bool put = (wFlags & DISPATCH_PROPERTYPUT) && (member->kinds & DISPATCH_PROPERTYPUT);
  if (put) {
    if (params->cArgs != 1 || params->cNamedArgs != 1 ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_BADPARAMCOUNT;
    CComVariant text;
    if (FAILED(VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR))) {
      if (puArgErr) *puArgErr = 0;
      return DISP_E_TYPEMISMATCH;
    }
    m_label = Utf8FromBstr(text.bstrVal);
    return S_OK;
  }
  return RunMethod(dispIdMember, params, result, info);
}

namespace {

// A sample value of each type the bridge hands to scripts.
HRESULT MakeSample(LONG vt, VARIANT* out) {
  VariantInit(out);
  switch (vt) {
    case VT_EMPTY: return S_OK;
    case VT_NULL: out->vt = VT_NULL; return S_OK;
    case VT_I2: out->vt = VT_I2; out->iVal = -7; return S_OK;
    case VT_UI1: out->vt = VT_UI1; out->bVal = 200; return S_OK;
    case VT_I8: out->vt = VT_I8; out->llVal = 1LL << 40; return S_OK;
    case VT_R4: out->vt = VT_R4; out->fltVal = 0.5f; return S_OK;
    case VT_CY: out->vt = VT_CY; out->cyVal.int64 = 123456; return S_OK;  // 12.3456
    case VT_BOOL: out->vt = VT_BOOL; out->boolVal = VARIANT_TRUE; return S_OK;
    case VT_BSTR: out->vt = VT_BSTR; out->bstrVal = BstrFromUtf8(""); return S_OK;
    case VT_DATE: {
      KvDateParts parts{2024, 3, 1, 9, 30, 15};
      out->vt = VT_DATE;
      return DateFromParts(parts, &out->date) ? S_OK : E_FAIL;
    }
    case VT_ARRAY | VT_I4: {
      SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 1, 3);
      if (!array) return E_OUTOFMEMORY;
      for (LONG i = 1; i <= 3; ++i) {
        LONG value = i * 100;
        SafeArrayPutElement(array, &i, &value);
      }
      out->vt = VT_ARRAY | VT_I4;
      out->parray = array;
      return S_OK;
    }
    case VT_ARRAY | VT_BSTR: {
      SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
      if (!array) return E_OUTOFMEMORY;
      const char* texts[] = {"a", "b"};
      for (LONG i = 0; i < 2; ++i) {
        CComBSTR text(texts[i]);
        SafeArrayPutElement(array, &i, text.Get());
      }
      out->vt = VT_ARRAY | VT_BSTR;
      out->parray = array;
      return S_OK;
    }
    default: return E_INVALIDARG;
  }
}

LONG ArgumentAsLong(DISPPARAMS* params, UINT index) {
  CComVariant value;
  if (FAILED(VariantChangeType(&value, &params->rgvarg[params->cArgs - 1 - index], 0, VT_I4))) return 0;
  return value.lVal;
}

}  // namespace

HRESULT ProbeObject::RunMethod(DISPID id, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info) {
  static const UINT kArgCounts[] = {0, 1, 1, 1, 1, 1, 0, 0, 0, 1};
  if (params->cNamedArgs != 0 || params->cArgs != kArgCounts[id]) return DISP_E_BADPARAMCOUNT;
  CComVariant scratch;
  VARIANT* out = result ? result : &scratch;
  VariantInit(out);
  switch (id) {
    case kEcho:
      ++m_methodRuns;
      return VariantCopy(out, &params->rgvarg[0]);
    case kTypeOf:
      ++m_methodRuns;
      out->vt = VT_I4;
      out->lVal = params->rgvarg[0].vt;
      return S_OK;
    case kMake:
      ++m_methodRuns;
      return MakeSample(ArgumentAsLong(params, 0), out);
    case kFail:
      ++m_methodRuns;
      return ArgumentAsLong(params, 0);
    case kRaise: {
      ++m_methodRuns;
      if (info) {
        CComVariant text;
        VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR);
        *info = EXCEPINFO{};
        info->bstrSource = BstrFromUtf8("ProbeObject");
        info->bstrDescription = text.vt == VT_BSTR ? CComBSTR(text.bstrVal).Detach() : nullptr;
        info->scode = E_ACCESSDENIED;
      }
      return DISP_E_EXCEPTION;
    }
    case kSelf:
      out->vt = VT_DISPATCH;
      out->pdispVal = this;
      AddRef();
      return S_OK;
    case kCount:
      out->vt = VT_I4;
      out->lVal = m_methodRuns;
      return S_OK;
    case kLabel:
      out->vt = VT_BSTR;
      out->bstrVal = BstrFromUtf8(m_label);
      return S_OK;
    case kItem:
      out->vt = VT_I4;
      out->lVal = ArgumentAsLong(params, 0) * 10;
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}
