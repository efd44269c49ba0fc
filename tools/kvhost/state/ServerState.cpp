#include "state/ServerState.h"

#include "state/DatabaseApplication.h"
#include "state/DatabaseSessions.h"
#include "state/MemorySessions.h"

ServerState OpenServerState(const ServerStateSettings& settings) {
  ServerState state;
  if (settings.url.empty()) {
    state.sessions = std::make_unique<MemorySessions>(settings.makeHost, settings.maxSessions);
    state.application = std::make_unique<MemoryApplication>();
    return state;
  }
  // A lock row outlives a page only when its process died on another
  // machine; it stands for twice the longest a page may run, then goes.
  const auto lease = std::chrono::milliseconds(static_cast<int64_t>(settings.scriptTimeoutSeconds * 2000) + 5000);
  state.database = std::make_unique<StateDatabase>(settings.url, lease);
  state.sessions = std::make_unique<DatabaseSessions>(*state.database, settings.makeHost, settings.developmentUser,
                                                      settings.maxSessions);
  state.application = std::make_unique<DatabaseApplication>(*state.database);
  return state;
}
