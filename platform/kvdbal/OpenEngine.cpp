#include "ConnectionString.h"
#include "Engine.h"
#include "FaultInjection.h"
#include "odbc/OdbcConnection.h"
#include "postgres/PgConnection.h"
#include "sqlite/SqliteConnection.h"

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenEngine(const std::string& connectionString) {
  ConnectionSettings settings = ParseConnectionString(connectionString);
  faults::BeforeOpen();
  std::shared_ptr<EngineConnection> engine;
  if (settings.engine == ConnectionSettings::Engine::SQLite)
    engine = OpenSqlite(settings);
  else if (settings.engine == ConnectionSettings::Engine::Postgres)
    engine = OpenPostgres(settings);
  else
    engine = OpenOdbc(settings);
  engine = faults::Wrapped(std::move(engine));
  if (settings.serverType) engine->OverrideServerType(*settings.serverType);
  engine->LockTablesForSaves(settings.saveLock == ConnectionSettings::SaveLock::Table);
  return engine;
}

}  // namespace kvdbal
