// The ODBC headers, after the platform's own Windows types: unixODBC
// declares Windows-like types of its own, and its ULONG (unsigned long)
// differs from the platform's 32-bit one. Its ULONG is renamed out of the
// way; nothing in the API uses it.
#pragma once

#include "../KvDbal.h"

#define ULONG KvOdbcUnusedUlong
#include <sql.h>
#include <sqlext.h>
#undef ULONG
