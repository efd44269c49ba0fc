#include "ConnectionString.h"

#include <charconv>
#include <string_view>

#include "../com/AsciiCase.h"
#include "KvDbal.h"

namespace kvdbal {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

int ParseInt(std::string_view name, std::string_view value) {
  int result = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), result);
  if (ec != std::errc() || end != value.data() + value.size())
    throw CKvDbException(KVDB_E_CONNECTION, "connection option " + std::string(name) +
                                                " needs a number, not '" + std::string(value) + "'");
  return result;
}

// Takes one of the layer's own options; false when name is none of them.
bool TakeOwnOption(std::string_view name, std::string_view value, ConnectionSettings& settings) {
  const bool sqlite = settings.engine == ConnectionSettings::Engine::SQLite;
  if (name == "servertype") {
    settings.serverType = ParseInt(name, value);
  } else if (name == "busytimeout") {
    settings.busyTimeoutMs = ParseInt(name, value);
  } else if (name == "reconnectwait") {
    settings.reconnectWaitMs = ParseInt(name, value);
  } else if (name == "savelock") {
    if (value != "none" && value != "table")
      throw CKvDbException(KVDB_E_CONNECTION,
                           "connection option savelock must be none or table, not '" + std::string(value) + "'");
    settings.saveLock = value == "table" ? ConnectionSettings::SaveLock::Table : ConnectionSettings::SaveLock::None;
  } else if (name == "statementcache") {
    settings.statementCacheSize = ParseInt(name, value);
    if (settings.statementCacheSize < 0)
      throw CKvDbException(KVDB_E_CONNECTION, "statementcache needs a count of 0 or more");
  } else if (name == "mode" && sqlite) {
    if (value != "rw" && value != "rwc")
      throw CKvDbException(KVDB_E_CONNECTION,
                           "connection option mode must be rw or rwc, not '" + std::string(value) + "'");
    settings.createIfMissing = value == "rwc";
  } else {
    return false;
  }
  return true;
}

// Calls f(item, name, value) for each name=value item of the query part
// (after '?'), in order; items are parted by '&'.
template <typename F>
void ForEachQueryOption(std::string_view query, F&& f) {
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    f(item, item.substr(0, eq), eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1));
  }
}

// Takes the layer's own options out of query; returns what is left, in order.
std::string TakeOwnOptions(std::string_view query, ConnectionSettings& settings, bool keepForeign) {
  std::string rest;
  ForEachQueryOption(query, [&](std::string_view item, std::string_view name, std::string_view value) {
    if (TakeOwnOption(name, value, settings)) {
    } else if (keepForeign) {
      if (!rest.empty()) rest += '&';
      rest += item;
    } else {
      throw CKvDbException(KVDB_E_CONNECTION, "unknown connection option '" + std::string(name) + "'");
    }
  });
  return rest;
}

// Takes the attributes whose keywords begin with "kvdbal." out of an ODBC
// connection string: attributes are separated by ';', a value in braces
// runs to its closing brace ("}}" stands for one '}') and may hold ';'.
// What is left keeps its exact text.
std::string TakeOwnOdbcAttributes(std::string_view text, ConnectionSettings& settings) {
  constexpr std::string_view kPrefix = "kvdbal.";
  std::string rest;
  size_t i = 0;
  while (i < text.size()) {
    const size_t start = i;
    size_t eq = text.find_first_of("=;", i);
    size_t end;
    if (eq == std::string_view::npos || text[eq] == ';') {
      end = eq == std::string_view::npos ? text.size() : eq;
      eq = std::string_view::npos;
    } else {
      size_t v = eq + 1;
      while (v < text.size() && text[v] == ' ') ++v;
      if (v < text.size() && text[v] == '{') {
        for (++v;; ++v) {
          if (v >= text.size())
            throw CKvDbException(KVDB_E_CONNECTION, "an ODBC connection string value opens a brace it never closes");
          if (text[v] != '}') continue;
          if (v + 1 < text.size() && text[v + 1] == '}') {
            ++v;
            continue;
          }
          break;
        }
      }
      end = text.find(';', v);
      if (end == std::string_view::npos) end = text.size();
    }
    std::string_view attribute = text.substr(start, end - start);
    i = end < text.size() ? end + 1 : end;
    std::string_view keyword = attribute.substr(0, eq == std::string_view::npos ? attribute.size() : eq - start);
    while (!keyword.empty() && keyword.front() == ' ') keyword.remove_prefix(1);
    while (!keyword.empty() && keyword.back() == ' ') keyword.remove_suffix(1);
    const bool own = keyword.size() > kPrefix.size() && StartsWithIgnoringAsciiCase(keyword, kPrefix);
    if (!own) {
      if (!attribute.empty()) {
        if (!rest.empty()) rest += ';';
        rest += attribute;
      }
      continue;
    }
    const std::string name = LowerAscii(keyword.substr(kPrefix.size()));
    std::string_view value = eq == std::string_view::npos ? std::string_view() : attribute.substr(eq - start + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    if (name == "mode" || !TakeOwnOption(name, value, settings))
      throw CKvDbException(KVDB_E_CONNECTION, "unknown connection option '" + std::string(keyword) + "'");
  }
  return rest;
}

}  // namespace

ConnectionSettings ParseConnectionString(const std::string& connectionString) {
  ConnectionSettings settings;
  std::string_view text = connectionString;
  if (StartsWith(text, "sqlite:")) {
    settings.engine = ConnectionSettings::Engine::SQLite;
    std::string_view rest = text.substr(7);
    size_t q = rest.find('?');
    settings.target = std::string(rest.substr(0, q));
    if (q != std::string_view::npos) TakeOwnOptions(rest.substr(q + 1), settings, false);
    if (settings.target.empty())
      throw CKvDbException(KVDB_E_CONNECTION, "connection string names no SQLite database");
  } else if (StartsWith(text, "postgresql:") || StartsWith(text, "postgres:")) {
    settings.engine = ConnectionSettings::Engine::Postgres;
    size_t q = text.find('?');
    settings.target = std::string(text.substr(0, q));
    if (q != std::string_view::npos) {
      std::string kept = TakeOwnOptions(text.substr(q + 1), settings, true);
      if (!kept.empty()) settings.target += "?" + kept;
    }
  } else if (StartsWith(text, "odbc:")) {
    settings.engine = ConnectionSettings::Engine::Odbc;
    settings.target = TakeOwnOdbcAttributes(text.substr(5), settings);
    if (settings.target.empty())
      throw CKvDbException(KVDB_E_CONNECTION, "connection string names no ODBC data source or driver");
  } else {
    throw CKvDbException(KVDB_E_CONNECTION,
                         "connection string must begin with sqlite: or postgresql://, or odbc: for an ODBC data source");
  }
  return settings;
}

std::string WithSqliteDefault(const std::string& connectionString, std::string_view name,
                              std::string_view value) {
  const std::string_view text = connectionString;
  if (!StartsWith(text, "sqlite:")) return connectionString;
  const size_t q = text.find('?');
  bool given = false;
  if (q != std::string_view::npos)
    ForEachQueryOption(text.substr(q + 1), [&](std::string_view, std::string_view n, std::string_view) {
      given = given || n == name;
    });
  if (given) return connectionString;
  return connectionString + (q == std::string_view::npos ? "?" : "&") + std::string(name) + "=" +
         std::string(value);
}

}  // namespace kvdbal
