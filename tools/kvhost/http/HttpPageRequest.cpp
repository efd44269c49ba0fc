#include "http/HttpPageRequest.h"

#include "page/FormCoding.h"
#include "platform/com/AsciiCase.h"

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::map<std::string, std::string> ParseCookies(std::string_view header) {
  std::map<std::string, std::string> cookies;
  while (!header.empty()) {
    size_t semicolon = header.find(';');
    std::string_view pair = Trim(header.substr(0, semicolon));
    header = semicolon == std::string_view::npos ? std::string_view() : header.substr(semicolon + 1);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::string value;
    std::string_view raw = Trim(pair.substr(eq + 1));
    if (!UrlDecode(raw, false, &value)) value = std::string(raw);
    // The first of two cookies of one name is the more specific one.
    cookies.emplace(std::string(Trim(pair.substr(0, eq))), std::move(value));
  }
  return cookies;
}

NameValues FormValues(const HttpRequest& request) {
  if (request.multipart) return request.multipartFields;
  if (StartsWithIgnoringAsciiCase(request.Header("Content-Type"), "application/x-www-form-urlencoded"))
    return ParseUrlEncoded(request.body);
  return {};
}

std::string HeaderVariableName(const std::string& header) {
  std::string name = "HTTP_";
  for (char c : header) name += c == '-' ? '_' : UpperAsciiChar(c);
  return name;
}

PageRequest::Variables ServerVariablesOf(const HttpRequest& request, const std::string& scriptName) {
  PageRequest::Variables vars;
  for (const auto& [name, value] : request.headers) {
    std::string& slot = vars[HeaderVariableName(name)];
    slot += slot.empty() ? value : ", " + value;
  }
  std::string host = request.Header("Host");
  if (size_t colon = host.rfind(':'); colon != std::string::npos && host.find(']', colon) == std::string::npos)
    host.resize(colon);
  vars["REQUEST_METHOD"] = request.method;
  vars["QUERY_STRING"] = request.Query();
  vars["SCRIPT_NAME"] = scriptName;
  vars["PATH_INFO"] = scriptName;
  vars["URL"] = scriptName;
  vars["REMOTE_ADDR"] = request.remoteAddr;
  vars["REMOTE_PORT"] = std::to_string(request.remotePort);
  vars["SERVER_NAME"] = host.empty() ? request.serverAddr : host;
  vars["SERVER_PORT"] = std::to_string(request.serverPort);
  vars["SERVER_PROTOCOL"] = request.version;
  vars["CONTENT_TYPE"] = request.Header("Content-Type");
  vars["CONTENT_LENGTH"] = std::to_string(request.body.size());
  return vars;
}

}  // namespace

PageRequest MakePageRequest(const HttpRequest& request, const std::string& scriptName) {
  PageRequest page;
  page.queryString = ParseUrlEncoded(request.Query());
  page.form = FormValues(request);
  for (const auto& [name, value] : request.headers) {
    // Each Cookie header is a list of its own ("; " apart, not ", ").
    if (EqualsIgnoringAsciiCase(name, "cookie")) page.cookies.merge(ParseCookies(value));
  }
  page.makeServerVariables = [&request, scriptName] { return ServerVariablesOf(request, scriptName); };
  return page;
}
