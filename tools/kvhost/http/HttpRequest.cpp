#include "http/HttpRequest.h"

#include "page/FormCoding.h"

std::string HttpRequest::Header(std::string_view name) const {
  std::string value;
  JoinedValues(headers, name, &value);
  return value;
}

std::string HttpRequest::Query() const {
  size_t question = target.find('?');
  return question == std::string::npos ? "" : target.substr(question + 1);
}
