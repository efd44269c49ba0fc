#include "ConnectionString.h"

#include <charconv>
#include <string_view>

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

// Takes the layer's own options out of query; returns what is left, in order.
std::string TakeOwnOptions(std::string_view query, ConnectionSettings& settings, bool keepForeign) {
  const bool sqlite = settings.engine == ConnectionSettings::Engine::SQLite;
  std::string rest;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    if (name == "servertype") {
      settings.serverType = ParseInt(name, value);
    } else if (name == "busytimeout") {
      settings.busyTimeoutMs = ParseInt(name, value);
    } else if (name == "statementcache") {
      settings.statementCacheSize = ParseInt(name, value);
      if (settings.statementCacheSize < 0)
        throw CKvDbException(KVDB_E_CONNECTION, "statementcache needs a count of 0 or more");
    } else if (name == "mode" && sqlite) {
      if (value != "rw" && value != "rwc")
        throw CKvDbException(KVDB_E_CONNECTION,
                             "connection option mode must be rw or rwc, not '" + std::string(value) + "'");
      settings.createIfMissing = value == "rwc";
    } else if (keepForeign) {
      if (!rest.empty()) rest += '&';
      rest += item;
    } else {
      throw CKvDbException(KVDB_E_CONNECTION, "unknown connection option '" + std::string(name) + "'");
    }
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
  } else {
    throw CKvDbException(KVDB_E_CONNECTION,
                         "connection string must begin with sqlite: or postgresql://");
  }
  return settings;
}

}  // namespace kvdbal
