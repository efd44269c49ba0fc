#include "OdbcApi.h"

#include "../../com/OleAuto.h"

namespace kvdbal::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(OLECHAR), "the driver manager's wide characters are UTF-16");

WideString Wide(std::string_view utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  return WideString(reinterpret_cast<const SQLWCHAR*>(text.data()), text.size());
}

std::string Narrow(const SQLWCHAR* text, size_t length) {
  return Utf16ToUtf8(reinterpret_cast<const OLECHAR*>(text), length);
}

Diagnostic ReadDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle) {
  Diagnostic result;
  for (SQLSMALLINT record = 1; record <= 8; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024];
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message,
                                  static_cast<SQLSMALLINT>(sizeof message / sizeof message[0]), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    const size_t shown = std::min<size_t>(length, sizeof message / sizeof message[0] - 1);
    std::string text = Narrow(message, shown);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // A warning (class 01) stands first only when nothing failed.
    const std::string recordState = Narrow(state, 5);
    const bool warningSoFar = result.state.empty() || result.state.rfind("01", 0) == 0;
    if (warningSoFar && (result.state.empty() || recordState.rfind("01", 0) != 0)) {
      result.state = recordState;
      result.native = native;
      result.text = text.empty() ? result.text : result.text.empty() ? text : text + "; " + result.text;
    } else if (!text.empty() && result.text.find(text) == std::string::npos) {
      result.text += "; " + text;
    }
  }
  if (result.state.size() != 5) result.state = "HY000";
  if (result.text.empty()) result.text = "the ODBC call failed without a message";
  return result;
}

bool IsConnectionLost(const Diagnostic& d) {
  if (d.state == "08S01" || d.state == "08003" || d.state == "08007" || d.state == "08S02") return true;
  // PostgreSQL: the server ended the session (an administrator, a shutdown).
  if (d.state == "57P01" || d.state == "57P02") return true;
  // MariaDB: server gone away, connection lost during a query, and the
  // session killed by an administrator.
  return d.native == 2006 || d.native == 2013 || d.native == 1927;
}

}  // namespace kvdbal::odbc
