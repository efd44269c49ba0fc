// What the ODBC engine needs around the raw API: owned handles, the
// diagnostic records of a failed call, and text in the driver manager's
// wide form. Every text goes through the wide (UTF-16) calls: how the narrow
// calls of a Unicode driver treat bytes above 127 depends on the process's
// locale, while UTF-16 means the same to every driver.
#pragma once

#include <string>
#include <string_view>

#include "OdbcSql.h"

namespace kvdbal::odbc {

using WideString = std::basic_string<SQLWCHAR>;

WideString Wide(std::string_view utf8);
std::string Narrow(const SQLWCHAR* text, size_t length);

// The first diagnostic record of a handle, the texts of all records joined.
struct Diagnostic {
  std::string state;       // five characters, "HY000" when the driver gave none
  SQLINTEGER native = 0;   // the server's or driver's own error number
  std::string text;
};
Diagnostic ReadDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle);

// Whether a diagnostic tells the connection is gone (by its state, or by
// the server's own number where the driver gives a general state): the next
// use outside a transaction connects again.
bool IsConnectionLost(const Diagnostic& diagnostic);

// An allocated handle, freed with its owner.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE handle) : m_type(type), m_handle(handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : m_type(other.m_type), m_handle(other.m_handle) { other.m_handle = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_type = other.m_type;
      m_handle = other.m_handle;
      other.m_handle = SQL_NULL_HANDLE;
    }
    return *this;
  }
  SQLHANDLE Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
  void Reset() {
    if (m_handle != SQL_NULL_HANDLE) SQLFreeHandle(m_type, m_handle);
    m_handle = SQL_NULL_HANDLE;
  }
  // Forgets the handle without freeing it (its connection freed it).
  void Release() { m_handle = SQL_NULL_HANDLE; }

 private:
  SQLSMALLINT m_type = SQL_HANDLE_STMT;
  SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

}  // namespace kvdbal::odbc
