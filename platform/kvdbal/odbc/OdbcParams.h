// Values of a written row bound to the parameter marks of a statement, each
// as the C type that carries it exactly to a column of its kind. A long
// text or binary value is sent in pieces at execution (SQLPutData), so no
// driver buffer limits its size.
#pragma once

#include <vector>

#include "../Engine.h"
#include "OdbcApi.h"

namespace kvdbal::odbc {

class Link;

class BoundParameters {
 public:
  explicit BoundParameters(const std::vector<BoundValue>& values);
  // Binds every value to statement (after resetting its earlier bindings).
  void Bind(Link& link, SQLHSTMT statement);
  // Executes the prepared statement, sending the values given at execution.
  SQLRETURN Execute(Link& link, SQLHSTMT statement);

 private:
  struct Parameter {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN columnSize = 1;
    SQLSMALLINT digits = 0;
    SQLLEN indicator = 0;
    bool atExecution = false;
    long long integer = 0;
    double real = 0;
    unsigned char bit = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    WideString text;
    std::string bytes;
    const void* Data() const;
    SQLLEN Length() const;
  };
  static Parameter From(const BoundValue& value);
  // A text or binary parameter with its length, sent at execution if long.
  static Parameter Measured(Parameter p);
  std::vector<Parameter> m_parameters;
};

}  // namespace kvdbal::odbc
