#include "ConnectionString.h"
#include "Engine.h"
#include "postgres/PgConnection.h"
#include "sqlite/SqliteConnection.h"

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenEngine(const std::string& connectionString) {
  ConnectionSpec spec = ParseConnectionString(connectionString);
  std::shared_ptr<EngineConnection> engine;
  if (spec.engine == ConnectionSpec::Engine::SQLite)
    engine = OpenSqlite(spec);
  else
    engine = OpenPostgres(spec);
  if (spec.serverType) engine->OverrideServerType(*spec.serverType);
  return engine;
}

}  // namespace kvdbal
