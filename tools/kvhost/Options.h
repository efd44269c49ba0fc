// Command line of kvhost: which page to run (or which site to serve), on
// which database, as which user, with which trace and class registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/ComTypes.h"

// Exit status of kvhost.
constexpr int kExitPageRan = 0;      // the page ran to its end (or the server stopped cleanly)
constexpr int kExitScriptError = 1;  // uncaught script error (or an exception the host did not expect)
constexpr int kExitSetupFailed = 1;  // the host could not be set up (database, registry, port)
constexpr int kExitBadUsage = 2;     // bad options, unreadable page or SQL file

struct KvServeOptions {
  std::string root;  // the site's directory
  int port = 8080;   // 0: any free port (the address printed says which)
  std::string bind = "127.0.0.1";
  int workers = 0;  // 0: one per core and one more
  double scriptTimeoutSeconds = 30;
  bool accessLog = true;  // a line per request on standard error
  // What one client may take of the server.
  uint64_t bodyLimit = 10 * 1024 * 1024;  // bytes of a request body, in any encoding
  double headTimeoutSeconds = 10;         // for a whole request head (and an idle keep-alive)
  double bodyTimeoutSeconds = 120;        // for a whole request body
  int connectionsPerClient = 32;          // open connections from one address; 0: no bound
  int maxSessions = 100000;               // sessions stored at once
  bool devErrors = false;                 // error pages show the error itself (development only)
  // Sessions and application values in this database (sqlite:PATH or
  // postgresql://...), shared with other serve processes; empty: in memory.
  std::string stateUrl;
  // After SIGTERM, the health address answers 503 for at least this long
  // while pages are still served, before the server stops taking requests.
  double drainSeconds = 0;
};

struct KvHostOptions {
  std::string page;
  std::string dbUrl;                  // empty: the demo database
  std::vector<std::string> sqlFiles;  // run in this order before the page
  // The session user without signing in, for the command line and local
  // development; serve: 0 (nobody) unless --user names one.
  LONG userId = 1;
  std::string basePath;      // empty: the demo's files directory
  bool sessionValid = true;  // --invalid makes the session's validity flag read false
  std::string traceFile;     // empty: no trace; "-": standard error
  std::string registryFile;  // empty: KVCOM_REGISTRY or the per-user default
  bool serve = false;        // the serve subcommand: serve holds its options
  KvServeOptions serveOptions;
};

struct ParsedCommandLine {
  bool ok = false;
  // --help or --version: text is what to print on standard output.
  bool infoRequested = false;
  std::string text;
  std::string error;  // set when !ok
  KvHostOptions options;
};

// args excludes the program name. Options may be written "--db URL" or
// "--db=URL"; "--" ends the options.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();
