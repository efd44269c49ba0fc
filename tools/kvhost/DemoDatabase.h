// The demo database: created with the demo application, its orders and a
// stored file on first use, so that a page can be run without any set-up.
#pragma once

#include <string>

#include "platform/kvdbal/KvDbal.h"

// Creates what is missing: the repository and the demo application with its
// data in the database, and the stored files below filesDir. Raises
// CKvDbException when the database refuses.
void PrepareDemoDatabase(CKvDbConnection& connection, const std::string& url,
                         const std::string& filesDir);
