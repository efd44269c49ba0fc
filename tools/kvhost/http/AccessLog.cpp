#include "http/AccessLog.h"

namespace {

// Request data goes into the log as it came; quotes, backslashes and
// control bytes are escaped so that a line cannot be forged or split.
std::string Escaped(const std::string& text) {
  static const char* kHex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string AccessLogLine(const std::string& remoteAddr, const std::string& method, const std::string& target,
                          const std::string& version, int status, size_t bytes, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char date[64];
  std::strftime(date, sizeof date, "%d/%b/%Y:%H:%M:%S %z", &local);
  std::string line = (remoteAddr.empty() ? "-" : Escaped(remoteAddr)) + " - - [" + date + "] \"" +
                     Escaped(method) + " " + Escaped(target) + " " + Escaped(version) + "\" " +
                     std::to_string(status) + " " + (bytes ? std::to_string(bytes) : "-");
  return line;
}
