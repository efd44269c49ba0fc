// Type information: what a type library says about its dual interfaces and
// coclasses (names, dispatch ids, invoke kinds, parameters, help strings),
// and the IDispatch services built on it (names to dispatch ids, argument
// coercion, [out, retval] results).
//
// A module describes its library in static tables (KvTypeLibData) compiled
// into it. CreateTypeLibFromData turns the tables into ITypeLib / ITypeInfo
// objects that copy every text, so a client may keep them after the module
// that described them is gone. Only the per-method call adapters stay in the
// module, and they run only for a live object of that module.
//
// This is a small subset of the platform's type information: enough for late
// binding, browsing names and help strings, and registration.
#pragma once

#include <string>

#include "Unknwn.h"

enum TYPEKIND : int {
  TKIND_INTERFACE = 3,
  TKIND_DISPATCH = 4,
  TKIND_COCLASS = 5,
};

enum INVOKEKIND : int {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};

constexpr USHORT PARAMFLAG_NONE = 0x0;
constexpr USHORT PARAMFLAG_FIN = 0x1;
constexpr USHORT PARAMFLAG_FOUT = 0x2;
constexpr USHORT PARAMFLAG_FRETVAL = 0x8;

constexpr WORD TYPEFLAG_FCANCREATE = 0x2;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;

constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// ---- static description, as a module compiles it in ----------------------------
// Parameter types: VT_I4, VT_BSTR, VT_BOOL, VT_VARIANT, VT_DISPATCH for values;
// VT_BYREF | type for pointers (VT_BYREF | VT_VARIANT is a VARIANT*; an
// [out, retval] long* is VT_BYREF | VT_I4 with PARAMFLAG_FOUT | PARAMFLAG_FRETVAL).
struct KvParamData {
  const char* szName;
  VARTYPE vt;
  USHORT wParamFlags;
};

// Calls one method on pvInstance (the interface pointer the dispatching
// object passes) with the prepared arguments in declaration order: each
// value argument already of its declared type, a VARIANT* argument as
// VT_BYREF | VT_VARIANT, the retval argument as VT_BYREF | type pointing at
// the result slot.
using KvMethodCall = HRESULT (*)(void* pvInstance, VARIANTARG* rgArgs);

struct KvMethodData {
  const char* szName;
  const char* szHelpString;
  DISPID dispid;
  INVOKEKIND invkind;
  const KvParamData* ppdata;
  UINT cArgs;  // including an [out, retval] parameter, which comes last
  KvMethodCall pfnCall;
};

struct KvInterfaceData {
  IID iid;
  const char* szName;
  const char* szHelpString;
  WORD wTypeFlags;
  const KvMethodData* pmethdata;
  UINT cMembers;
};

struct KvCoClassData {
  CLSID clsid;
  const char* szName;
  const char* szHelpString;
  IID iidDefault;  // the default interface
};

struct KvTypeLibData {
  GUID libid;
  const char* szName;
  const char* szHelpString;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  LCID lcid;
  const KvInterfaceData* pinterfaces;
  UINT cInterfaces;
  const KvCoClassData* pcoclasses;
  UINT cCoClasses;
};

// ---- descriptors handed out by the objects (valid while the object lives) -------
struct ELEMDESC {
  VARTYPE vt;
  USHORT wParamFlags;
};

struct FUNCDESC {
  MEMBERID memid;
  INVOKEKIND invkind;
  SHORT cParams;
  SHORT cParamsOpt;  // always 0: no parameter is optional
  const ELEMDESC* lprgelemdescParam;
  ELEMDESC elemdescFunc;  // VT_HRESULT
};

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  GUID guidDefaultInterface;  // coclasses: the default interface; GUID_NULL otherwise
};

struct TLIBATTR {
  GUID guid;
  LCID lcid;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
};

struct ITypeLib;

struct ITypeInfo : IUnknown {
  static constexpr IID kIid = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetTypeAttr(TYPEATTR* pTypeAttr) = 0;
  // index 0 .. cFuncs-1; TYPE_E_ELEMENTNOTFOUND beyond.
  virtual HRESULT GetFuncDesc(UINT index, const FUNCDESC** ppFuncDesc) = 0;
  // The member's name followed by its parameter names.
  virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
  // rgszNames[0] is a member name, the rest its parameter names (matched
  // without regard to case); parameters get their 0-based position.
  // DISP_E_UNKNOWNNAME (and DISPID_UNKNOWN in the slot) for a name not found.
  virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
  // Late-bound call of member memid on pvInstance, which must be an object
  // implementing this interface.
  virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
  // MEMBERID_NIL describes the type itself. Any out pointer may be null.
  virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                   DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
};

struct ITypeLib : IUnknown {
  static constexpr IID kIid = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual UINT GetTypeInfoCount() = 0;
  virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetLibAttr(TLIBATTR* pTLibAttr) = 0;
  // index -1 describes the library itself.
  virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                   DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
};

inline constexpr const IID& IID_ITypeInfo = ITypeInfo::kIid;
inline constexpr const IID& IID_ITypeLib = ITypeLib::kIid;

// A new type library (reference count 1) describing data. E_INVALIDARG for
// tables that contradict themselves (a retval parameter that is not last,
// two members with one dispatch id and invoke kind, a member without a call).
HRESULT CreateTypeLibFromData(const KvTypeLibData& data, ITypeLib** pptlib);

// IDispatch helpers for an object whose dispatch interface ptinfo describes.
//
// DispInvoke matches the member by dispatch id and by the invoke kinds that
// wFlags allows (a script's DISPATCH_METHOD | DISPATCH_PROPERTYGET reaches
// both), coerces each argument to its parameter type with VariantChangeType
// (VARIANT parameters take the argument as it is; a VARIANT* parameter
// receives the caller's own argument, so the callee may change or take it),
// and stores an [out, retval] result in pVarResult (cleared first). Named
// arguments use the parameter positions GetIDsOfNames gives.
//
// Failures: DISP_E_MEMBERNOTFOUND (no member for id and flags),
// DISP_E_BADPARAMCOUNT (too many or too few arguments), DISP_E_PARAMNOTFOUND
// (a missing argument, VT_ERROR / DISP_E_PARAMNOTFOUND, for a typed parameter,
// or a named argument without parameter), DISP_E_TYPEMISMATCH or
// DISP_E_OVERFLOW (coercion), with *puArgErr the index into rgvarg of the
// argument at fault. A method that fails gives DISP_E_EXCEPTION, its HRESULT
// in pExcepInfo->scode.
HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, LPOLESTR* rgszNames, UINT cNames, DISPID* rgdispid);
HRESULT DispInvoke(void* pvInstance, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                   DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                   UINT* puArgErr);

// Registration of a library under TypeLib\{libid}\major.minor (its help
// string, FLAGS, HELPDIR and <lcid>\linux holding the module path), and of
// each of its interfaces under Interface\{iid}.
HRESULT RegisterTypeLib(ITypeLib* ptlib, const std::string& fullPath, const std::string& helpDir);
// Removes that version of the library and the interfaces registered with it;
// the TypeLib\{libid} key goes when no other version remains.
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid);
