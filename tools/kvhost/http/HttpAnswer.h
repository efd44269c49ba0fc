// An answer of the server before it goes out: status, headers, body. Every
// answer carries the hardening headers, pages and files alike.
#pragma once

#include <string>
#include <string_view>

#include "page/PageContext.h"

struct HttpAnswer {
  unsigned status = 200;
  NameValues headers;
  std::string body;
};

// A plain HTML page for a status the server gives itself: the status and
// its reason as title, message below, details (if any) preformatted; all
// escaped here.
HttpAnswer AnswerPage(unsigned status, std::string_view message, std::string_view details = {});

// Adds the headers every answer has, unless headers already has one of
// that name: no content-type sniffing, no framing by other sites, and a
// content security policy that allows scripts, styles and images from the
// site itself only (no inline script).
void AddHardeningHeaders(NameValues& headers);

constexpr const char* kDefaultContentSecurityPolicy =
    "default-src 'self'; object-src 'none'; base-uri 'self'; form-action 'self'; frame-ancestors 'none'";
