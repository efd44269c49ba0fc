// The connection-string reader: a text it refuses is refused with the
// connection code, never another failure; a text it reads names its engine
// by its own prefix, and the settings written back as a connection string
// read again as the same settings (an SQLite file's creation flag included).
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "platform/kvdbal/ConnectionString.h"
#include "platform/kvdbal/KvDbal.h"

namespace {

using kvdbal::ConnectionSettings;

bool Same(const ConnectionSettings& a, const ConnectionSettings& b) {
  return a.engine == b.engine && a.target == b.target && a.serverType == b.serverType &&
         a.busyTimeoutMs == b.busyTimeoutMs && a.createIfMissing == b.createIfMissing;
}

std::string WrittenBack(const ConnectionSettings& settings) {
  if (settings.engine == ConnectionSettings::Engine::Odbc) {
    std::string text = "odbc:" + settings.target;
    if (settings.serverType) text += ";kvdbal.servertype=" + std::to_string(*settings.serverType);
    return text + ";kvdbal.busytimeout=" + std::to_string(settings.busyTimeoutMs);
  }
  std::string text = settings.engine == ConnectionSettings::Engine::SQLite ? "sqlite:" + settings.target
                                                                           : settings.target;
  char separator = text.find('?') == std::string::npos ? '?' : '&';
  const auto add = [&](const std::string& option) {
    text += separator + option;
    separator = '&';
  };
  if (settings.serverType) add("servertype=" + std::to_string(*settings.serverType));
  add("busytimeout=" + std::to_string(settings.busyTimeoutMs));
  if (settings.engine == ConnectionSettings::Engine::SQLite) add(settings.createIfMissing ? "mode=rwc" : "mode=rw");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ConnectionSettings settings;
  try {
    settings = kvdbal::ParseConnectionString(text);
  } catch (const CKvDbException& e) {
    FUZZ_CHECK(e.GetResult() == KVDB_E_CONNECTION);
    FUZZ_CHECK(!e.Message().empty());
    return 0;
  }

  const std::string head = text.substr(0, text.find('?'));
  if (settings.engine == ConnectionSettings::Engine::SQLite) {
    FUZZ_CHECK(text.starts_with("sqlite:"));
    FUZZ_CHECK(!settings.target.empty() && settings.target == head.substr(7));
  } else if (settings.engine == ConnectionSettings::Engine::Odbc) {
    FUZZ_CHECK(text.starts_with("odbc:") && !settings.target.empty());
  } else {
    FUZZ_CHECK(text.starts_with("postgresql:") || text.starts_with("postgres:"));
    FUZZ_CHECK(settings.target.starts_with(head));
  }
  // The layer's own options never reach the engine.
  const size_t query = settings.target.find('?');
  if (query != std::string::npos && settings.engine != ConnectionSettings::Engine::Odbc) {
    const std::string options = "&" + settings.target.substr(query + 1);
    FUZZ_CHECK(options.find("&servertype=") == std::string::npos &&
               options.find("&busytimeout=") == std::string::npos);
  }

  try {
    FUZZ_CHECK(Same(kvdbal::ParseConnectionString(WrittenBack(settings)), settings));
  } catch (const CKvDbException&) {
    FUZZ_CHECK(!"settings written back must read again");
  }
  return 0;
}
