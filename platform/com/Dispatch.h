// Late binding as the type information objects of CreateTypeLibFromData do
// it: the members a dispatch interface declares, names to dispatch ids, and
// the call of one member with the caller's DISPPARAMS. The whole IDispatch
// path of platform/com is in Dispatch.cpp; TypeLib.cpp only builds the
// members and forwards ITypeInfo::GetIDsOfNames and ITypeInfo::Invoke here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TypeInfo.h"

// One member of a dispatch interface, with the texts copied out of the
// module's tables so the type information outlives the module.
struct KvDispMember {
  std::string name;
  std::string help;
  std::vector<std::string> paramNames;
  std::vector<ELEMDESC> params;  // in declaration order, an [out, retval] one last
  FUNCDESC desc{};               // desc.lprgelemdescParam points into params
  KvMethodCall call = nullptr;
};

using KvDispMembers = std::vector<std::unique_ptr<KvDispMember>>;

// ITypeInfo::GetIDsOfNames over members (contract in TypeInfo.h).
HRESULT KvDispMatchNames(const KvDispMembers& members, LPOLESTR* rgszNames, UINT cNames,
                         MEMBERID* pMemId);

// ITypeInfo::Invoke over members (contract of DispInvoke in TypeInfo.h).
HRESULT KvDispInvokeMember(const KvDispMembers& members, void* pvInstance, MEMBERID memid,
                           WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                           EXCEPINFO* pExcepInfo, UINT* puArgErr);
