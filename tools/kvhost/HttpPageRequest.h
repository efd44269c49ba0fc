// What a page sees of an HTTP request: query string and form values (kept
// apart, unlike the parser's merged parameters), cookies and the server
// variables.
#pragma once

#include <string>

#include <httplib.h>

#include "PageContext.h"

PageRequest MakePageRequest(const httplib::Request& request, const std::string& scriptName);
