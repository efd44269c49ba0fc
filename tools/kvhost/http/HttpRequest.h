// One HTTP request as the server received it, whole: the head, and the
// body once it has arrived. Independent of the HTTP library, so that what
// is done with a request can be tested without a socket.
#pragma once

#include <string>
#include <string_view>

#include "page/PageContext.h"

struct HttpRequest {
  std::string method;
  std::string target;   // path and query as sent, still %-encoded
  std::string path;     // the path of target, decoded
  std::string version;  // "HTTP/1.1"
  NameValues headers;   // in the order sent, names as sent
  std::string remoteAddr;
  int remotePort = 0;
  std::string serverAddr;
  int serverPort = 0;
  std::string body;
  // A multipart/form-data body is taken apart by the HTTP library; its
  // fields are here (a file field as its file name).
  bool multipart = false;
  NameValues multipartFields;

  // Every value of the header name (ASCII case ignored) joined with ", ";
  // "" when it was not sent.
  std::string Header(std::string_view name) const;
  std::string Query() const;
};
