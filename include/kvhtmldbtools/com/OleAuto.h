// OLE Automation services: BSTR, VARIANT and SAFEARRAY operations, and the
// UTF-8 <-> UTF-16 conversion used at every interface edge (the system's
// 8-bit code page is UTF-8).
#pragma once

#include <string>
#include <string_view>

#include "ComTypes.h"
#include "Unknwn.h"

// ---- BSTR ------------------------------------------------------------------
// A BSTR points at UTF-16 text preceded by a 4-byte length in bytes and
// followed by a terminating 0. A null BSTR counts as the empty string.
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
BSTR SysAllocStringByteLen(const char* psz, UINT len);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);
BOOL SysReAllocString(BSTR* pbstr, const OLECHAR* psz);

// ---- UTF conversion ------------------------------------------------------------
// Invalid sequences become U+FFFD; neither direction reads past the given
// length, so a BSTR with broken surrogates converts safely.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(const OLECHAR* p, size_t cch);
// A new BSTR holding the UTF-16 form of the 8-bit text; nullptr when memory runs out.
BSTR BstrFromUtf8(std::string_view utf8);
// The 8-bit form of a BSTR (null gives "").
std::string Utf8FromBstr(BSTR bstr);

// ---- VARIANT -------------------------------------------------------------------
void VariantInit(VARIANTARG* pvarg);
HRESULT VariantClear(VARIANTARG* pvarg);
// Deep copy: BSTRs and SAFEARRAYs are duplicated, interfaces AddRef'ed.
// pvargDest is cleared first.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Like VariantCopy, but a by-reference source is dereferenced into a value.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts between VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL,
// VT_BSTR, VT_DATE, VT_UI1, VT_I8 (and their by-reference forms as source).
// Failures: DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE.
// pvargDest may equal pvarSrc.
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt);

// Dates: DATE <-> broken-down local time. Text form used by VariantChangeType
// is "YYYY-MM-DD HH:MM:SS" (date only when the time is midnight).
struct KvDateParts {
  int year, month, day, hour, minute, second;
};
bool DateFromParts(const KvDateParts& parts, DATE* out);
bool PartsFromDate(DATE date, KvDateParts* out);
DATE DateNowLocal();

// ---- SAFEARRAY -----------------------------------------------------------------
// Element types VT_VARIANT, VT_UI1, VT_I4, VT_BSTR.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// rgIndices has one index per dimension, first dimension first. Get copies
// out (VariantCopy / SysAllocString / AddRef), Put copies in.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
