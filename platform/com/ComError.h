// _com_error: an HRESULT with an optional error-information object; thrown by
// value when a COM call fails (see ThrowIfFailed).
#pragma once

#include <string>

#include "ComPtr.h"

class _com_error {
 public:
  explicit _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false);
  _com_error(const _com_error& that);
  _com_error& operator=(const _com_error& that);
  ~_com_error();

  HRESULT Error() const { return m_hr; }
  IErrorInfo* ErrorInfo() const;  // AddRef'ed for the caller, or nullptr
  // The description of the error information object; a null BSTR when there is none.
  // The string belongs to this error object (valid while it lives; do not free it).
  BSTR Description() const;

 private:
  HRESULT m_hr;
  IErrorInfo* m_perrinfo;
  mutable BSTR m_bstrDescription = nullptr;  // fetched on first use
  mutable bool m_bDescriptionFetched = false;
};

// The text of hr, as a COM error report names it: the system's message text
// without its trailing line break, else "IDispatch error #%d" for the codes
// interfaces define (0x80040201 to 0x8004FFFF), else "Unknown error 0x%0lX".
// Every report of an HRESULT as text, the trace's and the hosts', uses it.
std::string ComErrorText(HRESULT hr);

// Raises the COM error for a failed HRESULT (no error information).
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw _com_error(hr);
}

// Raises the COM error for a failed call on pObject, carrying the error
// information the object offers for iid (through ISupportErrorInfo and
// GetErrorInfo).
void ThrowComFailure(HRESULT hr, IUnknown* pObject, REFIID iid);

// Per-thread error information, as set by SetErrorInfo and taken (once) by GetErrorInfo.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
// A simple error-information object with the given description and source.
HRESULT CreateSimpleErrorInfo(std::string_view description, std::string_view source,
                              IErrorInfo** out);
