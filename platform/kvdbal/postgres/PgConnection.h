// The PostgreSQL backend on libpq.
#pragma once

#include <memory>

#include "../ConnectionString.h"
#include "../Engine.h"

namespace kvdbal {
std::shared_ptr<EngineConnection> OpenPostgres(const ConnectionSpec& spec);
}  // namespace kvdbal
