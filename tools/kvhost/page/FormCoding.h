// The encodings of the page objects and the web server: HTML text, URL
// components and urlencoded form data.
#pragma once

#include <string>
#include <string_view>

#include "page/PageContext.h"

std::string HtmlEncode(std::string_view text);
// Letters, digits and "-_.~" stay, a space becomes "+", every other byte %XX.
std::string UrlEncode(std::string_view text);
// "+" is a space in form data (plusIsSpace); false for a broken %-escape.
bool UrlDecode(std::string_view text, bool plusIsSpace, std::string* out);
// name=value pairs of a query string or urlencoded form body, in order;
// pairs that do not decode are left out.
NameValues ParseUrlEncoded(std::string_view text);
// Every value given for name (ASCII case ignored) joined with ", "; false
// when there is none.
bool JoinedValues(const NameValues& values, std::string_view name, std::string* out);
