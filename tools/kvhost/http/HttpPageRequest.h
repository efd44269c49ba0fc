// What a page sees of an HTTP request: query string and form values (kept
// apart, unlike merged parameters), cookies and the server variables.
#pragma once

#include <string>

#include "http/HttpRequest.h"
#include "page/PageContext.h"

PageRequest MakePageRequest(const HttpRequest& request, const std::string& scriptName);
