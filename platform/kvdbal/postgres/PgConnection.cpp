#include "PgConnection.h"

namespace kvdbal {
std::shared_ptr<EngineConnection> OpenPostgres(const ConnectionSpec&) {
  throw CKvDbException(KVDB_E_CONNECTION, "PostgreSQL backend pending");
}
}  // namespace kvdbal
