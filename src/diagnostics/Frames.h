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

enum class Kind { kStandard, kSwallowing, kReducedSwallowing };

// What a reported failure makes of the method's result: the standard frame
// announces and returns the failure's code, the swallowing frames S_OK.
inline HRESULT Handled(Kind kind, HRESULT hr) {
  if (kind != Kind::kStandard) return S_OK;
  TraceReturning(hr);
  return hr;
}

// An exception no frame knows by type: E_FAIL, with the "Returning:" line
// where the frame writes one.
inline HRESULT GeneralFailure(Kind kind, const char* source, int block) {
  TraceGeneralError(E_UNEXPECTED, source, block + 4);
  if (kind == Kind::kStandard) TraceReturning(E_FAIL);
  return E_FAIL;
}

// The handlers of all three frames. Handler numbers: +1 access layer,
// +2 memory (and, in the swallowing frames, every framework exception),
// +3 framework exception (standard) or COM error (swallowing), +4 the rest.
// The reduced frame lets all but access-layer exceptions and COM errors pass.
template <Kind kind, typename Body>
HRESULT Run(const char* source, int block, Body& body) {
  constexpr bool standard = kind == Kind::kStandard;
  constexpr bool reduced = kind == Kind::kReducedSwallowing;
  try {
    if constexpr (standard) {
      return body();
    } else {
      body();
      return S_OK;
    }
  } catch (const CKvDbException& e) {
    TraceException(e, source, block + 1);
    return Handled(kind, e.GetResult());
  } catch (const CMemoryException& e) {
    if constexpr (reduced) throw;
    TraceException(e, source, block + 2);
    return Handled(kind, E_OUTOFMEMORY);
  } catch (const std::bad_alloc&) {
    if constexpr (reduced) throw;
    TraceException(CMemoryException(), source, block + 2);
    return Handled(kind, E_OUTOFMEMORY);
  } catch (const CException& e) {
    if constexpr (reduced) throw;
    TraceException(e, source, block + (standard ? 3 : 2));
    return Handled(kind, E_FAIL);
  } catch (const _com_error& e) {
    if constexpr (standard) return GeneralFailure(kind, source, block);
    TraceComError(e, source, block + 3);
    return S_OK;
  } catch (...) {
    if constexpr (reduced) throw;
    return GeneralFailure(kind, source, block);
  }
}

}  // namespace kvframe

// Standard frame: access-layer exception -> its code; memory -> E_OUTOFMEMORY;
// other framework exception -> E_FAIL; anything else (COM errors included) ->
// a general error report with E_UNEXPECTED and E_FAIL. Each report is followed
// by the "Returning:" line. body returns the method's HRESULT.
template <typename Body>
HRESULT StandardFrame(const char* source, int block, Body&& body) {
  return kvframe::Run<kvframe::Kind::kStandard>(source, block, body);
}

// Swallowing frame: access-layer and framework exceptions are reported with
// TraceException, COM errors with TraceComError; the method returns S_OK.
// Anything else would otherwise leave the process through a COM boundary, so
// it is reported as a general error and gives E_FAIL.
template <typename Body>
HRESULT SwallowingFrame(const char* source, int block, Body&& body) {
  return kvframe::Run<kvframe::Kind::kSwallowing>(source, block, body);
}

// Reduced swallowing frame: only access-layer exceptions and COM errors are
// caught and swallowed; everything else goes on to the caller (which wraps
// the method in the standard frame's handlers).
template <typename Body>
HRESULT ReducedSwallowingFrame(const char* source, int block, Body&& body) {
  return kvframe::Run<kvframe::Kind::kReducedSwallowing>(source, block, body);
}
