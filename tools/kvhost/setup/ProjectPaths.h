// Where kvhost finds the demo and the component when the command line does
// not say.
#pragma once

#include <string>

// Where the demo database and its files live (created on demand by the demo
// set-up): KVHOST_DATA_DIR, else $XDG_DATA_HOME/kvhtmldbtools, else
// ~/.local/share/kvhtmldbtools. Never a path fixed at build time, so an
// installed kvhost does not write into the checkout it was built from.
std::string DataDirectory();
// The demo database: sqlite: and a file in the data directory.
std::string DemoDatabaseUrl();
// The demo application's base path, where its stored files live.
std::string DemoFilesDirectory();
// The component module of this build or installation: beside the kvhost
// executable when it is there, else beside the platform library kvhost runs
// with (the build puts both in one folder, an install in its library folder).
std::string ComponentModulePath();

// An absolute path for a directory, with a trailing '/', as the component
// joins upload urls directly onto the base path. Empty when dir does not
// name a directory.
std::string DirectoryBasePath(const std::string& dir);
