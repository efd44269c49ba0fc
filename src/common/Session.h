// Access to the host session the page passes in. Every failing host call
// raises _com_error with its HRESULT (and the host's error information); a
// missing session, user or application raises E_POINTER.
#pragma once

#include <memory>
#include <string>

#include "../outside/Com.h"
#include "../outside/HostObjects.h"
#include "../outside/KvDbal.h"

// Queries pDispatch for the host session interface. E_NOINTERFACE (also for
// a null pDispatch) gives a null pointer; any other failure raises.
ComPtr<IHostSession> QueryHostSession(IDispatch* pDispatch);

// Reads the session connection and wraps it; the session connection's own
// reference is released at once, the wrapper keeps one.
std::unique_ptr<CKvDbConnection> OpenSessionConnection(IHostSession* pSession);

// The session validity flag.
bool SessionIsValid(IHostSession* pSession);
// Id of the session's current user.
LONG SessionUserId(IHostSession* pSession);
// The application base path.
std::string SessionBasePath(IHostSession* pSession);

// Runs read(connection, rowset) on a connection of pSession when the page
// passed a session that is still valid; answers whether it did.
template <typename Read>
bool ReadThroughValidSession(IHostSession* pSession, Read&& read) {
  if (!pSession || !SessionIsValid(pSession)) return false;
  const std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(pSession);
  CKvDbRowset rowset;
  read(*connection, rowset);
  return true;
}
