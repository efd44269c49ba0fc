// Requests that would change something are refused when a browser says
// they come from another site, and for pages when they do not carry the
// session's anti-forgery token: a form on another site cannot read the
// token, so it cannot make a browser post on its visitor's behalf.
#pragma once

#include <string_view>

#include "http/HttpRequest.h"

// The form field and the header that carry the token back.
constexpr const char* kTokenField = "kvtoken";
constexpr const char* kTokenHeader = "X-KV-Token";

// POST, PUT, PATCH and DELETE.
bool IsUnsafeMethod(std::string_view method);

// Judged by Origin, else Referer, else Sec-Fetch-Site; a request naming
// none of them (not sent by a browser) passes. An origin counts as this
// site when its host and port are the ones of the Host header, whatever
// the scheme, so that a proxy that ends TLS in front may pass requests on.
bool ComesFromAnotherSite(const HttpRequest& request);

// Compares in time independent of where the texts differ; false for an
// empty token.
bool TokenMatches(std::string_view sent, std::string_view expected);
