// The error frames of the interface methods. A method body runs inside one of
// them; failures raised in it are written to the trace and turned into the
// method's result (standard frame) or swallowed (swallowing frames). The
// reports carry the source name and the line of the method that set up the
// frame, so each frame site identifies itself in the trace.
#pragma once

#include <new>
#include <source_location>

#include "Trace.h"

namespace kvframe {

inline void TraceReturning(HRESULT hr) { TraceText("Returning: %#08X\n", static_cast<unsigned>(hr)); }

inline int LineOf(const std::source_location& loc) { return static_cast<int>(loc.line()); }

}  // namespace kvframe

// Standard frame: access-layer exception -> its code; memory -> E_OUTOFMEMORY;
// other framework exception -> E_FAIL; anything else (COM errors included) ->
// a general error report with E_UNEXPECTED and E_FAIL. Each report is followed
// by the "Returning:" line. body returns the method's HRESULT.
template <typename Body>
HRESULT StandardFrame(const char* source, Body&& body,
                      std::source_location loc = std::source_location::current()) {
  const int line = kvframe::LineOf(loc);
  try {
    return body();
  } catch (const CKvDbException& e) {
    TraceException(e, source, line);
    kvframe::TraceReturning(e.GetResult());
    return e.GetResult();
  } catch (const CMemoryException& e) {
    TraceException(e, source, line);
    kvframe::TraceReturning(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), source, line);
    kvframe::TraceReturning(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (const CException& e) {
    TraceException(e, source, line);
    kvframe::TraceReturning(E_FAIL);
    return E_FAIL;
  } catch (...) {
    TraceGeneralError(E_UNEXPECTED, source, line);
    kvframe::TraceReturning(E_FAIL);
    return E_FAIL;
  }
}

// Swallowing frame: access-layer and framework exceptions are reported with
// TraceException, COM errors with TraceComError; the method returns S_OK.
// Anything else would otherwise leave the process through a COM boundary, so
// it is reported as a general error and gives E_FAIL.
template <typename Body>
HRESULT SwallowingFrame(const char* source, Body&& body,
                        std::source_location loc = std::source_location::current()) {
  const int line = kvframe::LineOf(loc);
  try {
    body();
  } catch (const CKvDbException& e) {
    TraceException(e, source, line);
  } catch (const CException& e) {
    TraceException(e, source, line);
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), source, line);
  } catch (const _com_error& e) {
    TraceComError(e, source, line);
  } catch (...) {
    TraceGeneralError(E_UNEXPECTED, source, line);
    return E_FAIL;
  }
  return S_OK;
}

// Reduced swallowing frame: only access-layer exceptions and COM errors are
// caught and swallowed; everything else goes on to the caller (which wraps
// the method in the standard frame's handlers).
template <typename Body>
HRESULT ReducedSwallowingFrame(const char* source, Body&& body,
                               std::source_location loc = std::source_location::current()) {
  const int line = kvframe::LineOf(loc);
  try {
    body();
  } catch (const CKvDbException& e) {
    TraceException(e, source, line);
  } catch (const _com_error& e) {
    TraceComError(e, source, line);
  }
  return S_OK;
}
