// The server's answers as responses of the HTTP library (libmicrohttpd),
// and the one part of a request it takes apart for us: multipart form
// bodies. Every response made here carries the hardening headers.
#pragma once

#include <microhttpd.h>

#include <string>

#include "http/HttpAnswer.h"

// Null when the library cannot make one (out of memory).
MHD_Response* ResponseOf(HttpAnswer answer);

// A static file, whole or the ranges rangeHeader asks for; *status and
// *bytes (of the body) are set. Null when the file cannot be opened.
MHD_Response* FileResponse(const std::string& filePath, const std::string& contentType,
                           const std::string& rangeHeader, unsigned* status, uint64_t* bytes);

// The fields of a multipart/form-data body; false when it is malformed.
bool ReadMultipartFields(MHD_Connection* connection, const std::string& body, NameValues* fields);
