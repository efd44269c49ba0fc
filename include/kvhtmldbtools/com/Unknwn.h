// The core COM interfaces. Interfaces are abstract classes without a virtual
// destructor and with their methods in COM's slot order, so the vtable layout
// is the one a COM client expects. Each interface carries its IID as kIid,
// which ComPtr and QueryInterface helpers use.
#pragma once

#include "ComTypes.h"

struct ITypeInfo;

struct IUnknown {
  static constexpr IID kIid = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IDispatch : IUnknown {
  static constexpr IID kIid = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
  static constexpr IID kIid = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IErrorInfo : IUnknown {
  static constexpr IID kIid = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};

struct ISupportErrorInfo : IUnknown {
  static constexpr IID kIid = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

// Running-object support: OleRun puts an object that offers it into its
// running state; objects without it count as running already.
struct IRunnableObject : IUnknown {
  static constexpr IID kIid = {0x00000126, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetRunningClass(CLSID* lpClsid) = 0;
  virtual HRESULT Run(void* pbc) = 0;
  virtual BOOL IsRunning() = 0;
  virtual HRESULT LockRunning(BOOL fLock, BOOL fLastUnlockCloses) = 0;
  virtual HRESULT SetContainedObject(BOOL fContained) = 0;
};

inline constexpr const IID& IID_IUnknown = IUnknown::kIid;
inline constexpr const IID& IID_IDispatch = IDispatch::kIid;
inline constexpr const IID& IID_IClassFactory = IClassFactory::kIid;
inline constexpr const IID& IID_IErrorInfo = IErrorInfo::kIid;
inline constexpr const IID& IID_ISupportErrorInfo = ISupportErrorInfo::kIid;
inline constexpr const IID& IID_IRunnableObject = IRunnableObject::kIid;
inline constexpr IID IID_NULL = GUID_NULL;
