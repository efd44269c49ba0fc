#include "http/CrossSite.h"

#include <sodium.h>

#include <string>

#include "platform/com/AsciiCase.h"

namespace {

// "host[:port]" of an absolute http or https URL, lower case, without the
// scheme's default port; "" when url is none. *scheme is set.
std::string AuthorityOf(std::string_view url, std::string* scheme) {
  size_t colon = url.find("://");
  if (colon == std::string_view::npos) return "";
  *scheme = LowerAscii(std::string(url.substr(0, colon)));
  if (*scheme != "http" && *scheme != "https") return "";
  std::string_view rest = url.substr(colon + 3);
  std::string authority = LowerAscii(std::string(rest.substr(0, rest.find_first_of("/?#"))));
  if (authority.empty() || authority.find('@') != std::string::npos) return "";
  const std::string defaultPort = *scheme == "http" ? ":80" : ":443";
  if (authority.size() > defaultPort.size() &&
      authority.compare(authority.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
    authority.resize(authority.size() - defaultPort.size());
  return authority;
}

bool SameSiteAs(const HttpRequest& request, std::string_view url) {
  std::string scheme;
  std::string authority = AuthorityOf(url, &scheme);
  if (authority.empty()) return false;
  std::string host = LowerAscii(request.Header("Host"));
  const std::string defaultPort = scheme == "http" ? ":80" : ":443";
  if (host.size() > defaultPort.size() &&
      host.compare(host.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
    host.resize(host.size() - defaultPort.size());
  return !host.empty() && host == authority;
}

}  // namespace

bool IsUnsafeMethod(std::string_view method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

bool ComesFromAnotherSite(const HttpRequest& request) {
  const std::string origin = request.Header("Origin");
  if (!origin.empty()) return !SameSiteAs(request, origin);
  const std::string referer = request.Header("Referer");
  if (!referer.empty()) return !SameSiteAs(request, referer);
  const std::string fetchSite = LowerAscii(request.Header("Sec-Fetch-Site"));
  return !fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none";
}

bool TokenMatches(std::string_view sent, std::string_view expected) {
  if (expected.empty() || sent.size() != expected.size()) return false;
  return sodium_memcmp(sent.data(), expected.data(), expected.size()) == 0;
}
