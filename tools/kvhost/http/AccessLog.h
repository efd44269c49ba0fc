// One line per answered request in the Common Log Format:
// host ident authuser [date] "request line" status bytes
#pragma once

#include <ctime>
#include <string>

std::string AccessLogLine(const std::string& remoteAddr, const std::string& method, const std::string& target,
                          const std::string& version, int status, size_t bytes, std::time_t when);
