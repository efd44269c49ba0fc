// The interfaces of the host platform's objects that components call: the
// host session with its user and application, the trace sink, the host data
// pack object and the host file copier. Slots that components do not use are
// kept as reserved entries so the used ones sit at their fixed vtable
// positions.
#pragma once

#include "../com/Unknwn.h"

// Positions count after the seven methods of IDispatch.
struct IHostSession : IDispatch {
  static constexpr IID kIid = {0x6B1E0A01, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x01}};
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  virtual HRESULT Reserved3() = 0;
  virtual HRESULT Reserved4() = 0;
  virtual HRESULT Reserved5() = 0;
  virtual HRESULT Reserved6() = 0;
  virtual HRESULT get_Connection(IDispatch** pVal) = 0;  // 7th
  virtual HRESULT get_Valid(VARIANT_BOOL* pVal) = 0;     // 8th
  virtual HRESULT Reserved9() = 0;
  virtual HRESULT get_User(IDispatch** pVal) = 0;        // 10th
  virtual HRESULT Reserved11() = 0;
  virtual HRESULT Reserved12() = 0;
  virtual HRESULT get_Application(struct IHostApplication** pVal) = 0;  // 13th
};

struct IHostUser : IDispatch {
  static constexpr IID kIid = {0x6B1E0A02, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x02}};
  virtual HRESULT get_Id(LONG* pVal) = 0;  // 1st
};

#define KV_HOST_RESERVED_SLOT(n) virtual HRESULT Reserved##n() = 0;

struct IHostApplication : IDispatch {
  static constexpr IID kIid = {0x6B1E0A03, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x03}};
  KV_HOST_RESERVED_SLOT(1) KV_HOST_RESERVED_SLOT(2) KV_HOST_RESERVED_SLOT(3)
  KV_HOST_RESERVED_SLOT(4) KV_HOST_RESERVED_SLOT(5) KV_HOST_RESERVED_SLOT(6)
  KV_HOST_RESERVED_SLOT(7) KV_HOST_RESERVED_SLOT(8) KV_HOST_RESERVED_SLOT(9)
  KV_HOST_RESERVED_SLOT(10) KV_HOST_RESERVED_SLOT(11) KV_HOST_RESERVED_SLOT(12)
  KV_HOST_RESERVED_SLOT(13) KV_HOST_RESERVED_SLOT(14) KV_HOST_RESERVED_SLOT(15)
  KV_HOST_RESERVED_SLOT(16) KV_HOST_RESERVED_SLOT(17) KV_HOST_RESERVED_SLOT(18)
  KV_HOST_RESERVED_SLOT(19) KV_HOST_RESERVED_SLOT(20) KV_HOST_RESERVED_SLOT(21)
  KV_HOST_RESERVED_SLOT(22) KV_HOST_RESERVED_SLOT(23) KV_HOST_RESERVED_SLOT(24)
  KV_HOST_RESERVED_SLOT(25) KV_HOST_RESERVED_SLOT(26) KV_HOST_RESERVED_SLOT(27)
  KV_HOST_RESERVED_SLOT(28) KV_HOST_RESERVED_SLOT(29) KV_HOST_RESERVED_SLOT(30)
  KV_HOST_RESERVED_SLOT(31) KV_HOST_RESERVED_SLOT(32) KV_HOST_RESERVED_SLOT(33)
  KV_HOST_RESERVED_SLOT(34) KV_HOST_RESERVED_SLOT(35) KV_HOST_RESERVED_SLOT(36)
  KV_HOST_RESERVED_SLOT(37) KV_HOST_RESERVED_SLOT(38) KV_HOST_RESERVED_SLOT(39)
  KV_HOST_RESERVED_SLOT(40) KV_HOST_RESERVED_SLOT(41) KV_HOST_RESERVED_SLOT(42)
  KV_HOST_RESERVED_SLOT(43) KV_HOST_RESERVED_SLOT(44) KV_HOST_RESERVED_SLOT(45)
  KV_HOST_RESERVED_SLOT(46) KV_HOST_RESERVED_SLOT(47) KV_HOST_RESERVED_SLOT(48)
  KV_HOST_RESERVED_SLOT(49) KV_HOST_RESERVED_SLOT(50) KV_HOST_RESERVED_SLOT(51)
  virtual HRESULT get_BasePath(BSTR* pVal) = 0;  // 52nd
};

// The trace sink: created by CLSID_KvTraceSink for every line written.
struct ITraceSink : IDispatch {
  static constexpr IID kIid = {0x6B1E0A10, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x10}};
  virtual HRESULT WriteText(BSTR text) = 0;
  virtual HRESULT WriteHeading(BSTR text) = 0;
};
inline constexpr CLSID CLSID_KvTraceSink = {0x6B1E0B10, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x10}};

// The host data pack object: describes one data pack of an application.
struct IHostDataPackList;
struct IHostDataPack : IDispatch {
  static constexpr IID kIid = {0x6B1E0A20, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x20}};
  virtual HRESULT Load(IDispatch* pSession, LONG lDatapackId) = 0;
  virtual HRESULT get_Table(BSTR* pVal) = 0;
  virtual HRESULT get_LangTable(BSTR* pVal) = 0;  // empty when there is none
  virtual HRESULT get_Children(IHostDataPackList** pVal) = 0;
  virtual HRESULT get_Id(LONG* pVal) = 0;
};
struct IHostDataPackList : IDispatch {
  static constexpr IID kIid = {0x6B1E0A21, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x21}};
  virtual HRESULT get_Count(LONG* pVal) = 0;
  virtual HRESULT Item(LONG lIndex, IHostDataPack** pVal) = 0;  // 0-based
};
inline constexpr CLSID CLSID_KvHostDataPack = {0x6B1E0B20, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x20}};

// The host file copier: unique names and copies inside one directory.
struct IHostFileCopier : IDispatch {
  static constexpr IID kIid = {0x6B1E0A30, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x30}};
  virtual HRESULT Init(IDispatch* pSession, BSTR bstrDirectory, LONG* pVal) = 0;
  virtual HRESULT UniqueName(BSTR bstrBase, BSTR bstrExtension, BSTR* pVal) = 0;
  virtual HRESULT Copy(BSTR bstrSource, BSTR bstrTarget, LONG* pVal) = 0;
};
inline constexpr CLSID CLSID_KvHostFileCopier = {0x6B1E0B30, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0x30}};

// The transaction server's object context, held by pooled components between
// Activate and Deactivate.
struct IObjectContext : IUnknown {
  static constexpr IID kIid = {0x51372AE0, 0xCAE7, 0x11CF, {0xBE, 0x81, 0x00, 0xAA, 0x00, 0xA2, 0xFA, 0x25}};
  virtual HRESULT CreateInstance(REFCLSID rclsid, REFIID riid, void** ppv) = 0;
  virtual HRESULT SetComplete() = 0;
  virtual HRESULT SetAbort() = 0;
  virtual HRESULT EnableCommit() = 0;
  virtual HRESULT DisableCommit() = 0;
  virtual BOOL IsInTransaction() = 0;
  virtual BOOL IsSecurityEnabled() = 0;
  virtual HRESULT IsCallerInRole(BSTR bstrRole, BOOL* pfIsInRole) = 0;
};

struct IObjectControl : IUnknown {
  static constexpr IID kIid = {0x51372AEC, 0xCAE7, 0x11CF, {0xBE, 0x81, 0x00, 0xAA, 0x00, 0xA2, 0xFA, 0x25}};
  virtual HRESULT Activate() = 0;
  virtual void Deactivate() = 0;
  virtual BOOL CanBePooled() = 0;
};
