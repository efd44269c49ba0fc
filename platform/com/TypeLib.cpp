// Type library and type information objects built from a module's tables.
// The library and its type infos share one reference count: a client holding
// any of them keeps all of them.
#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "OleAuto.h"
#include "TypeInfo.h"

namespace {

// Sets *out to a new BSTR of text when out is given; false when memory runs out.
bool GiveText(BSTR* out, const std::string& text) {
  if (!out) return true;
  *out = BstrFromUtf8(text);
  return *out != nullptr;
}

class CTypeLib;

class CTypeInfo final : public ITypeInfo {
 public:
  CTypeInfo(CTypeLib* lib, UINT index) : m_lib(lib), m_index(index) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeAttr(TYPEATTR* pTypeAttr) override {
    if (!pTypeAttr) return E_POINTER;
    *pTypeAttr = m_attr;
    return S_OK;
  }
  HRESULT GetFuncDesc(UINT index, const FUNCDESC** ppFuncDesc) override {
    if (!ppFuncDesc) return E_POINTER;
    *ppFuncDesc = nullptr;
    if (index >= m_members.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = &m_members[index]->desc;
    return S_OK;
  }
  HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
  HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
  HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                           DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;

  bool BuildInterface(const KvInterfaceData& data);
  void BuildCoClass(const KvCoClassData& data);
  const TYPEATTR& Attr() const { return m_attr; }

 private:
  const KvDispMember* FindByMemid(MEMBERID memid) const {
    for (const auto& m : m_members)
      if (m->desc.memid == memid) return m.get();
    return nullptr;
  }

  CTypeLib* m_lib;
  UINT m_index;
  TYPEATTR m_attr{};
  std::string m_name;
  std::string m_help;
  KvDispMembers m_members;
};

class CTypeLib final : public ITypeLib {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib) {
      *ppv = static_cast<ITypeLib*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return m_cRef.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG c = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (c == 0) delete this;
    return c;
  }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(m_infos.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (index >= m_infos.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = m_infos[index].get();
    AddRef();
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
    if (!pTKind) return E_POINTER;
    if (index >= m_infos.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = m_infos[index]->Attr().typekind;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTInfo) override {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    for (auto& info : m_infos) {
      if (info->Attr().guid == guid) {
        *ppTInfo = info.get();
        AddRef();
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR* pTLibAttr) override {
    if (!pTLibAttr) return E_POINTER;
    *pTLibAttr = m_attr;
    return S_OK;
  }
  HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                           DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override {
    if (index == -1) {
      if (pdwHelpContext) *pdwHelpContext = 0;
      if (pBstrHelpFile) *pBstrHelpFile = nullptr;
      if (!GiveText(pBstrName, m_name) || !GiveText(pBstrDocString, m_help)) {
        if (pBstrName) { SysFreeString(*pBstrName); *pBstrName = nullptr; }
        return E_OUTOFMEMORY;
      }
      return S_OK;
    }
    if (index < 0 || static_cast<size_t>(index) >= m_infos.size()) return TYPE_E_ELEMENTNOTFOUND;
    return m_infos[index]->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString,
                                            pdwHelpContext, pBstrHelpFile);
  }

  bool Build(const KvTypeLibData& data) {
    m_attr = TLIBATTR{data.libid, data.lcid, data.wMajorVerNum, data.wMinorVerNum};
    m_name = data.szName ? data.szName : "";
    m_help = data.szHelpString ? data.szHelpString : "";
    for (UINT i = 0; i < data.cInterfaces; ++i) {
      m_infos.push_back(std::make_unique<CTypeInfo>(this, static_cast<UINT>(m_infos.size())));
      if (!m_infos.back()->BuildInterface(data.pinterfaces[i])) return false;
    }
    for (UINT i = 0; i < data.cCoClasses; ++i) {
      m_infos.push_back(std::make_unique<CTypeInfo>(this, static_cast<UINT>(m_infos.size())));
      m_infos.back()->BuildCoClass(data.pcoclasses[i]);
    }
    return true;
  }

  LCID Lcid() const { return m_attr.lcid; }
  WORD Major() const { return m_attr.wMajorVerNum; }
  WORD Minor() const { return m_attr.wMinorVerNum; }

 private:
  std::atomic<ULONG> m_cRef{1};
  TLIBATTR m_attr{};
  std::string m_name;
  std::string m_help;
  std::vector<std::unique_ptr<CTypeInfo>> m_infos;
};

HRESULT CTypeInfo::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
    *ppv = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CTypeInfo::AddRef() { return m_lib->AddRef(); }
ULONG CTypeInfo::Release() { return m_lib->Release(); }

bool CTypeInfo::BuildInterface(const KvInterfaceData& data) {
  m_name = data.szName ? data.szName : "";
  m_help = data.szHelpString ? data.szHelpString : "";
  for (UINT i = 0; i < data.cMembers; ++i) {
    const KvMethodData& md = data.pmethdata[i];
    if (!md.szName || !md.pfnCall || (md.cArgs && !md.ppdata)) return false;
    auto member = std::make_unique<KvDispMember>();
    member->name = md.szName;
    member->help = md.szHelpString ? md.szHelpString : "";
    member->call = md.pfnCall;
    for (UINT p = 0; p < md.cArgs; ++p) {
      const KvParamData& pd = md.ppdata[p];
      const bool retval = (pd.wParamFlags & PARAMFLAG_FRETVAL) != 0;
      if (retval && (p + 1 != md.cArgs || !(pd.vt & VT_BYREF))) return false;
      member->paramNames.push_back(pd.szName ? pd.szName : "");
      member->params.push_back(ELEMDESC{pd.vt, pd.wParamFlags});
    }
    for (const auto& other : m_members)
      if (other->desc.memid == md.dispid && other->desc.invkind == md.invkind) return false;
    member->desc.memid = md.dispid;
    member->desc.invkind = md.invkind;
    member->desc.cParams = static_cast<SHORT>(md.cArgs);
    member->desc.cParamsOpt = 0;
    member->desc.lprgelemdescParam = member->params.data();
    member->desc.elemdescFunc = ELEMDESC{VT_HRESULT, PARAMFLAG_NONE};
    m_members.push_back(std::move(member));
  }
  m_attr.guid = data.iid;
  m_attr.lcid = m_lib->Lcid();
  m_attr.typekind = TKIND_DISPATCH;
  m_attr.cFuncs = static_cast<WORD>(m_members.size());
  m_attr.wTypeFlags = data.wTypeFlags;
  m_attr.wMajorVerNum = m_lib->Major();
  m_attr.wMinorVerNum = m_lib->Minor();
  m_attr.guidDefaultInterface = GUID_NULL;
  return true;
}

void CTypeInfo::BuildCoClass(const KvCoClassData& data) {
  m_name = data.szName ? data.szName : "";
  m_help = data.szHelpString ? data.szHelpString : "";
  m_attr.guid = data.clsid;
  m_attr.lcid = m_lib->Lcid();
  m_attr.typekind = TKIND_COCLASS;
  m_attr.cFuncs = 0;
  m_attr.wTypeFlags = TYPEFLAG_FCANCREATE;
  m_attr.wMajorVerNum = m_lib->Major();
  m_attr.wMinorVerNum = m_lib->Minor();
  m_attr.guidDefaultInterface = data.iidDefault;
}

HRESULT CTypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  if (!rgBstrNames || !pcNames) return E_POINTER;
  *pcNames = 0;
  const KvDispMember* m = FindByMemid(memid);
  if (!m) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<const std::string*> names{&m->name};
  for (const auto& p : m->paramNames) names.push_back(&p);
  UINT n = 0;
  for (; n < cMaxNames && n < names.size(); ++n) {
    rgBstrNames[n] = BstrFromUtf8(*names[n]);
    if (!rgBstrNames[n]) {
      for (UINT k = 0; k < n; ++k) {
        SysFreeString(rgBstrNames[k]);
        rgBstrNames[k] = nullptr;
      }
      return E_OUTOFMEMORY;
    }
  }
  *pcNames = n;
  return S_OK;
}

HRESULT CTypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  return KvDispMatchNames(m_members, rgszNames, cNames, pMemId);
}

HRESULT CTypeInfo::Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                          VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  return KvDispInvokeMember(m_members, pvInstance, memid, wFlags, pDispParams, pVarResult,
                            pExcepInfo, puArgErr);
}

HRESULT CTypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                    DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  const std::string* name = &m_name;
  const std::string* help = &m_help;
  if (memid != MEMBERID_NIL) {
    const KvDispMember* m = FindByMemid(memid);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    name = &m->name;
    help = &m->help;
  }
  if (pdwHelpContext) *pdwHelpContext = 0;
  if (pBstrHelpFile) *pBstrHelpFile = nullptr;
  if (pBstrDocString) *pBstrDocString = nullptr;
  if (!GiveText(pBstrName, *name) || !GiveText(pBstrDocString, *help)) {
    if (pBstrName) {
      SysFreeString(*pBstrName);
      *pBstrName = nullptr;
    }
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CTypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (!ppTLib) return E_POINTER;
  *ppTLib = m_lib;
  m_lib->AddRef();
  if (pIndex) *pIndex = m_index;
  return S_OK;
}

}  // namespace

HRESULT CreateTypeLibFromData(const KvTypeLibData& data, ITypeLib** pptlib) {
  if (!pptlib) return E_POINTER;
  *pptlib = nullptr;
  if ((data.cInterfaces && !data.pinterfaces) || (data.cCoClasses && !data.pcoclasses))
    return E_INVALIDARG;
  CTypeLib* lib = new (std::nothrow) CTypeLib();
  if (!lib) return E_OUTOFMEMORY;
  bool built = false;
  try {
    built = lib->Build(data);
  } catch (const std::bad_alloc&) {
    lib->Release();
    return E_OUTOFMEMORY;
  }
  if (!built) {
    lib->Release();
    return E_INVALIDARG;
  }
  *pptlib = lib;
  return S_OK;
}
