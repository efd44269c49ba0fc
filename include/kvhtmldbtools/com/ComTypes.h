// Basic types of the COM / OLE Automation subset: integer aliases, HRESULT
// codes, GUIDs, BSTR, VARIANT and SAFEARRAY layouts.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using SHORT = int16_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using HRESULT = int32_t;
using SCODE = int32_t;
using LCID = uint32_t;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;  // days since 1899-12-30, fraction = time of day
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;  // points after a 4-byte byte-length prefix

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT MAKE_HRESULT_U(uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_U(0x80004001);
constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_U(0x80004002);
constexpr HRESULT E_POINTER = MAKE_HRESULT_U(0x80004003);
constexpr HRESULT E_ABORT = MAKE_HRESULT_U(0x80004004);
constexpr HRESULT E_FAIL = MAKE_HRESULT_U(0x80004005);
constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_U(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_U(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_U(0x8007000E);
constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_U(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_U(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MAKE_HRESULT_U(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_U(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = MAKE_HRESULT_U(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MAKE_HRESULT_U(0x80040151);
constexpr HRESULT CO_E_CLASSSTRING = MAKE_HRESULT_U(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MAKE_HRESULT_U(0x8004F001);
constexpr HRESULT CO_E_ERRORINDLL = MAKE_HRESULT_U(0x800401F9);
constexpr HRESULT SELFREG_E_CLASS = MAKE_HRESULT_U(0x80040201);
constexpr HRESULT SELFREG_E_TYPELIB = MAKE_HRESULT_U(0x80040200);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MAKE_HRESULT_U(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MAKE_HRESULT_U(0x8002801D);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MAKE_HRESULT_U(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MAKE_HRESULT_U(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MAKE_HRESULT_U(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MAKE_HRESULT_U(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MAKE_HRESULT_U(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MAKE_HRESULT_U(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MAKE_HRESULT_U(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MAKE_HRESULT_U(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MAKE_HRESULT_U(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MAKE_HRESULT_U(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MAKE_HRESULT_U(0x8002000E);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MAKE_HRESULT_U(0x8002000D);

// Win32 error codes the file services report through GetLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;

constexpr HRESULT HRESULT_FROM_WIN32(DWORD x) {
  return x == 0 ? S_OK : static_cast<HRESULT>((x & 0x0000FFFFu) | 0x80070000u);
}

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct IUnknown;
struct IDispatch;

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  VARTYPE vt;                     // element type (VT_VARIANT, VT_UI1, ...)
  SAFEARRAYBOUND rgsabound[1];    // cDims entries, allocated with the array
};

struct CY {
  int64_t int64;
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    int64_t llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
    signed char cVal;
    USHORT uiVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
  };
};
using VARIANTARG = VARIANT;

#define V_VT(v) ((v)->vt)

struct DISPPARAMS {
  VARIANTARG* rgvarg;          // arguments in reverse order
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ALL = 0x17,
  CLSCTX_SERVER = 0x15,
};

constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;
