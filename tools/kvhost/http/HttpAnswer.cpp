#include "http/HttpAnswer.h"

#include <microhttpd.h>

#include "page/FormCoding.h"
#include "platform/com/AsciiCase.h"

namespace {

bool HasHeader(const NameValues& headers, std::string_view name) {
  for (const auto& [key, value] : headers)
    if (EqualsIgnoringAsciiCase(key, name)) return true;
  return false;
}

}  // namespace

HttpAnswer AnswerPage(unsigned status, std::string_view message, std::string_view details) {
  const std::string title = std::to_string(status) + " " + MHD_get_reason_phrase_for(status);
  HttpAnswer answer;
  answer.status = status;
  answer.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
  answer.headers.emplace_back("Cache-Control", "no-store");
  answer.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HtmlEncode(title) +
                "</title></head><body><h1>" + HtmlEncode(title) + "</h1>\n<p>" + HtmlEncode(message) + "</p>\n" +
                (details.empty() ? "" : "<pre>" + HtmlEncode(details) + "</pre>\n") + "</body></html>\n";
  return answer;
}

void AddHardeningHeaders(NameValues& headers) {
  static const std::pair<const char*, const char*> kHeaders[] = {
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Content-Security-Policy", kDefaultContentSecurityPolicy},
      {"Referrer-Policy", "same-origin"},
  };
  for (const auto& [name, value] : kHeaders)
    if (!HasHeader(headers, name)) headers.emplace_back(name, value);
}
