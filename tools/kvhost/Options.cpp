#include "Options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool ParseUserId(const std::string& text, LONG* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<LONG>(value);
  return true;
}

bool TakesValue(const std::string& name) {
  return name == "--db" || name == "--sql" || name == "--user" || name == "--base" ||
         name == "--trace" || name == "--registry";
}

// Stores one option's value; returns an error text or "".
std::string ApplyValue(const std::string& name, const std::string& value, KvHostOptions* options) {
  if (value.empty()) return "option " + name + " needs a non-empty value";
  if (name == "--db") {
    options->dbUrl = value;
  } else if (name == "--sql") {
    options->sqlFiles.push_back(value);
  } else if (name == "--user") {
    if (!ParseUserId(value, &options->userId))
      return "--user needs a 32-bit integer user id, not '" + value + "'";
  } else if (name == "--base") {
    options->basePath = value;
  } else if (name == "--trace") {
    options->traceFile = value;
  } else if (name == "--registry") {
    options->registryFile = value;
  }
  return "";
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      result.helpRequested = true;
      result.ok = true;
      return result;
    }
    if (arg == "--invalid") {
      result.options.sessionValid = false;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    if (!TakesValue(name)) {
      result.error = "unknown option " + name;
      return result;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        result.error = "option " + name + " needs a value";
        return result;
      }
      value = args[++i];
    }
    result.error = ApplyValue(name, value, &result.options);
    if (!result.error.empty()) return result;
  }
  if (positional.size() != 1) {
    result.error = positional.empty() ? "no page given" : "only one page can be run at a time";
    return result;
  }
  result.options.page = positional[0];
  result.ok = true;
  return result;
}

std::string UsageText() {
  return "usage: kvhost [options] PAGE.js\n"
         "Runs a server-side page script against the KvHtmlDbTools component.\n"
         "\n"
         "  --db URL         connection string (sqlite:PATH, sqlite::memory:, postgresql://...);\n"
         "                   default: the demo database in the project's data directory\n"
         "                   (KVHOST_DATA_DIR); a database without repository tables (SQLite\n"
         "                   or PostgreSQL) is first given the demo application and its orders\n"
         "  --sql FILE       run the SQL statements of FILE before the page (repeatable)\n"
         "  --user ID        session user id (default 1)\n"
         "  --base DIR       application base path and file root (default: the demo's files)\n"
         "  --invalid        the session's validity flag reads false\n"
         "  --trace FILE     append every trace line to FILE ('-' for standard error)\n"
         "  --registry FILE  class registry (default: KVCOM_REGISTRY or the per-user registry)\n"
         "\n"
         "Page globals: Server.CreateObject(progid), Session, Response.Write(text).\n"
         "Exit status: 0 the page ran to its end, 1 script error or failed set-up,\n"
         "2 bad options or an unreadable page or SQL file.\n";
}
