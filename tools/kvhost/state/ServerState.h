// Where a serve process keeps its sessions and application values: in its
// own memory (one process), or in a database that several processes share
// (--state URL), on one machine (an SQLite file) or many (PostgreSQL).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "page/PageContext.h"
#include "state/SessionStore.h"
#include "state/StateDatabase.h"

struct ServerState {
  std::unique_ptr<StateDatabase> database;  // null when kept in memory
  std::unique_ptr<SessionStore> sessions;
  std::unique_ptr<PageApplication> application;
};

struct ServerStateSettings {
  std::string url;  // empty: this process's memory
  std::function<ComPtr<IDispatch>()> makeHost;
  long developmentUser = 0;
  size_t maxSessions = 100000;  // sessions kept at once, by all processes of a state database
  double scriptTimeoutSeconds = 30;
};

// Raises CKvDbException when the state database cannot be reached.
ServerState OpenServerState(const ServerStateSettings& settings);
