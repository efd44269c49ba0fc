#include "Options.h"

#include <algorithm>
#include <climits>
#include <memory>

#include <CLI/CLI.hpp>

namespace {

constexpr const char* kVersion = "kvhost 1.0";

constexpr const char* kFooter =
    "Page globals: Request, Response, Server, Session, Application (Request is empty\n"
    "when a page runs from the command line).\n"
    "Exit status: 0 the page ran to its end, 1 script error or failed set-up,\n"
    "2 bad options or an unreadable page or SQL file.";

// Options given with an empty value are mistakes, not defaults.
const CLI::Validator kNonEmpty(
    [](std::string& value) { return value.empty() ? std::string("needs a non-empty value") : std::string(); },
    "", "NonEmpty");

struct CommandLine {
  std::unique_ptr<CLI::App> app;
  CLI::App* serve = nullptr;
  std::vector<std::string> pages;
  long long userId = 1;
  CLI::Option* user = nullptr;
};

void AddOptions(CommandLine& line, KvHostOptions& o) {
  CLI::App& app = *line.app;
  app.footer(kFooter);
  app.set_version_flag("--version", kVersion);
  app.add_option("--db", o.dbUrl,
                 "connection string (sqlite:PATH, sqlite::memory:, postgresql://...); default: "
                 "the demo database in the project's data directory (KVHOST_DATA_DIR); a "
                 "database without repository tables (SQLite or PostgreSQL) is first given the "
                 "demo application and its orders")
      ->check(kNonEmpty);
  app.add_option("--sql", o.sqlFiles, "run the SQL statements of FILE before the page (repeatable)")
      ->type_name("FILE")
      ->check(kNonEmpty)
      ->allow_extra_args(false);
  line.user = app.add_option("--user", line.userId,
                             "development only: the session user id without signing in (a page run: "
                             "default 1; serve: every session starts signed in as ID, else nobody)")
      ->type_name("ID")
      ->check(CLI::Range(static_cast<long long>(INT32_MIN), static_cast<long long>(INT32_MAX)));
  app.add_option("--base", o.basePath, "application base path and file root (default: the demo's files)")
      ->type_name("DIR")
      ->check(kNonEmpty);
  app.add_flag_callback("--invalid", [&o] { o.sessionValid = false; },
                        "the session's validity flag reads false");
  app.add_option("--trace", o.traceFile, "append every trace line to FILE ('-' for standard error)")
      ->type_name("FILE")
      ->check(kNonEmpty);
  app.add_option("--registry", o.registryFile,
                 "class registry (default: KVCOM_REGISTRY or the per-user registry)")
      ->type_name("FILE")
      ->check(kNonEmpty);
  app.add_option("page", line.pages, "the page script to run")->type_name("PAGE.js");

  line.serve = app.add_subcommand("serve", "serve the server pages and files of a site over HTTP");
  // The options above may follow the subcommand as well.
  line.serve->fallthrough();
  KvServeOptions& s = o.serveOptions;
  line.serve->add_option("--root", s.root, "the site's directory")->required()->check(CLI::ExistingDirectory);
  line.serve->add_option("--port", s.port, "TCP port (default 8080; 0 picks a free one)")
      ->check(CLI::Range(0, 65535));
  line.serve->add_option("--bind", s.bind, "address to listen on (default 127.0.0.1)")->check(kNonEmpty);
  line.serve->add_option("--workers", s.workers, "pages run at once (default: one per core and one more)")
      ->check(CLI::Range(1, 1024));
  line.serve->add_option("--script-timeout", s.scriptTimeoutSeconds,
                         "seconds a page may run before it is stopped (default 30)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.001, 86400.0));
  line.serve->add_option("--body-limit", s.bodyLimit,
                         "largest request body in any encoding, e.g. 10MB (default 10 MB)")
      ->type_name("SIZE")
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 40));
  line.serve->add_option("--head-timeout", s.headTimeoutSeconds,
                         "seconds a client has for a whole request head; also ends idle keep-alive "
                         "connections (default 10)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.1, 3600.0));
  line.serve->add_option("--body-timeout", s.bodyTimeoutSeconds,
                         "seconds a client has for a whole request body (default 120)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.1, 86400.0));
  line.serve->add_option("--connections-per-client", s.connectionsPerClient,
                         "open connections from one address (default 32; 0: no bound, e.g. behind a proxy)")
      ->check(CLI::Range(0, 100000));
  line.serve->add_option("--max-sessions", s.maxSessions, "sessions kept at once (default 100000)")
      ->check(CLI::Range(1, 100000000));
  line.serve->add_option("--state", s.stateUrl,
                         "keep sessions and application values in this database (sqlite:PATH for "
                         "several processes on one machine, postgresql://... for several machines), "
                         "shared by every serve process given the same URL (default: this process's memory)")
      ->type_name("URL")
      ->check(kNonEmpty);
  line.serve->add_option("--drain", s.drainSeconds,
                         "after SIGTERM, keep serving this long while /.kvhost/health answers 503, so a "
                         "balancer moves on; then finish the running pages and exit (default 0)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, 3600.0));
  line.serve->add_flag("--dev-errors", s.devErrors,
                       "error pages show the error with its file and line (for development only; "
                       "otherwise only the server log has them)");
}

CommandLine MakeCommandLine(KvHostOptions& options) {
  CommandLine line;
  line.app = std::make_unique<CLI::App>(
      "Runs a server-side page script against the KvHtmlDbTools component, or serves a site of "
      "server pages over HTTP.",
      "kvhost");
  AddOptions(line, options);
  return line;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  CommandLine line = MakeCommandLine(result.options);
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    line.app->parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.ok = result.infoRequested = true;
    result.text = line.app->help();
    return result;
  } catch (const CLI::CallForVersion&) {
    result.ok = result.infoRequested = true;
    result.text = std::string(kVersion) + "\n";
    return result;
  } catch (const CLI::ParseError& e) {
    result.error = e.what();
    return result;
  }
  KvHostOptions& o = result.options;
  o.serve = line.serve->parsed();
  // Served sessions start with nobody signed in: a page signs its visitor
  // in. --user is for trying a site out on one's own machine.
  o.userId = o.serve && line.user->count() == 0 ? 0 : static_cast<LONG>(line.userId);
  if (o.serve) {
    // Shared state needs an engine whose upserts and locking it knows.
    const std::string& state = o.serveOptions.stateUrl;
    if (!state.empty() && state.rfind("sqlite:", 0) != 0 && state.rfind("postgresql:", 0) != 0 &&
        state.rfind("postgres:", 0) != 0) {
      result.error = "--state takes an SQLite (sqlite:PATH) or PostgreSQL (postgresql://...) database: " + state;
      return result;
    }
    if (!line.pages.empty()) {
      result.error = "serve runs a site, not a page: " + line.pages.front();
      return result;
    }
  } else if (line.pages.size() != 1) {
    result.error = line.pages.empty() ? "no page given" : "only one page can be run at a time";
    return result;
  } else {
    o.page = line.pages.front();
  }
  result.ok = true;
  return result;
}

std::string UsageText() {
  KvHostOptions unused;
  return MakeCommandLine(unused).app->help();
}
