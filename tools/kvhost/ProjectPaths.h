// Where kvhost finds the demo and the component when the command line does
// not say.
#pragma once

#include <string>

// The project's data directory (created on demand by the demo set-up);
// KVHOST_DATA_DIR overrides it.
std::string DataDirectory();
// The demo database: sqlite: and a file in the data directory.
std::string DemoDatabaseUrl();
// The demo application's base path, where its stored files live.
std::string DemoFilesDirectory();
// The component module: beside the kvhost executable when it is there,
// else where the build put it.
std::string ComponentModulePath();

// An absolute path for a directory, with a trailing '/', as the component
// joins upload urls directly onto the base path. Empty when dir does not
// name a directory.
std::string DirectoryBasePath(const std::string& dir);
