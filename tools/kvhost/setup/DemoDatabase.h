// The demo application: made in whichever database kvhost is given when
// that database has no repository yet, so that a page can be run on SQLite
// or PostgreSQL without any set-up.
#pragma once

#include <string>

#include "platform/kvdbal/KvDbal.h"

// When the database has no repository tables, creates them with the demo
// application, its orders and the order desk's users (kruser: anna, who sees
// every order, and ben, who sees his own and everybody's) in one transaction and returns true; a
// database with a repository is left alone (false). Raises CKvDbException
// when the database refuses.
bool PrepareDemoDatabase(CKvDbConnection& connection, const std::string& url);

// The stored file that the demo's upload row names, below filesDir, when it
// is missing.
void WriteDemoFiles(const std::string& filesDir);
