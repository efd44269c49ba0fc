// What a page sees of an HTTP request: query string and form values (kept
// apart, unlike merged parameters), cookies and the server variables.
#pragma once

#include <string>

#include "http/HttpRequest.h"
#include "page/PageContext.h"

// The page request refers to request for its server variables: request
// must outlive the page.
PageRequest MakePageRequest(const HttpRequest& request, const std::string& scriptName);
