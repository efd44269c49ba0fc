// The error frames of the interface methods. A method body runs inside one of
// them; failures raised in it are written to the trace and turned into the
// method's result (standard frame) or swallowed (swallowing frames). The
// reports carry the source name and a fixed number per handler: the frame's
// block (TraceSites.h) plus the handler's place in the frame, so a trace line
// names the handler that wrote it.
#pragma once

#include <new>
#include "Trace.h"
#include "TraceSites.h"

namespace kvframe {

inline void TraceReturning(HRESULT hr) { TraceText("Returning: %#08X\n", static_cast<unsigned>(hr)); }

}  // namespace kvframe

// Standard frame: access-layer exception -> its code; memory -> E_OUTOFMEMORY;
// other framework exception -> E_FAIL; anything else (COM errors included) ->
// a general error report with E_UNEXPECTED and E_FAIL. Each report is followed
// by the "Returning:" line. body returns the method's HRESULT.
template <typename Body>
HRESULT StandardFrame(const char* source, int block, Body&& body) {
  try {
    return body();
  } catch (const CKvDbException& e) {
    TraceException(e, source, block + 1);
    kvframe::TraceReturning(e.GetResult());
    return e.GetResult();
  } catch (const CMemoryException& e) {
    TraceException(e, source, block + 2);
    kvframe::TraceReturning(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), source, block + 2);
    kvframe::TraceReturning(E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (const CException& e) {
    TraceException(e, source, block + 3);
    kvframe::TraceReturning(E_FAIL);
    return E_FAIL;
  } catch (...) {
    TraceGeneralError(E_UNEXPECTED, source, block + 4);
    kvframe::TraceReturning(E_FAIL);
    return E_FAIL;
  }
}

// Swallowing frame: access-layer and framework exceptions are reported with
// TraceException, COM errors with TraceComError; the method returns S_OK.
// Anything else would otherwise leave the process through a COM boundary, so
// it is reported as a general error and gives E_FAIL.
template <typename Body>
HRESULT SwallowingFrame(const char* source, int block, Body&& body) {
  try {
    body();
  } catch (const CKvDbException& e) {
    TraceException(e, source, block + 1);
  } catch (const CException& e) {
    TraceException(e, source, block + 2);
  } catch (const std::bad_alloc&) {
    TraceException(CMemoryException(), source, block + 2);
  } catch (const _com_error& e) {
    TraceComError(e, source, block + 3);
  } catch (...) {
    TraceGeneralError(E_UNEXPECTED, source, block + 4);
    return E_FAIL;
  }
  return S_OK;
}

// Reduced swallowing frame: only access-layer exceptions and COM errors are
// caught and swallowed; everything else goes on to the caller (which wraps
// the method in the standard frame's handlers).
template <typename Body>
HRESULT ReducedSwallowingFrame(const char* source, int block, Body&& body) {
  try {
    body();
  } catch (const CKvDbException& e) {
    TraceException(e, source, block + 1);
  } catch (const _com_error& e) {
    TraceComError(e, source, block + 3);
  }
  return S_OK;
}
