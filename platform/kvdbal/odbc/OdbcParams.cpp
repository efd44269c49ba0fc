#include "OdbcParams.h"

#include "../../com/OleAuto.h"
#include "../ValueText.h"
#include "OdbcConnection.h"

namespace kvdbal::odbc {
namespace {

// Values longer than this go to the driver in pieces of this size.
constexpr size_t kPieceBytes = 32 * 1024;

bool ToTimestamp(DATE date, SQL_TIMESTAMP_STRUCT* out) {
  KvDateParts p{};
  if (!PartsFromDate(date, &p)) return false;
  out->year = static_cast<SQLSMALLINT>(p.year);
  out->month = static_cast<SQLUSMALLINT>(p.month);
  out->day = static_cast<SQLUSMALLINT>(p.day);
  out->hour = static_cast<SQLUSMALLINT>(p.hour);
  out->minute = static_cast<SQLUSMALLINT>(p.minute);
  out->second = static_cast<SQLUSMALLINT>(p.second);
  out->fraction = 0;
  return true;
}

}  // namespace

const void* BoundParameters::Parameter::Data() const {
  switch (cType) {
    case SQL_C_SBIGINT:
      return &integer;
    case SQL_C_DOUBLE:
      return &real;
    case SQL_C_BIT:
      return &bit;
    case SQL_C_TYPE_TIMESTAMP:
      return &timestamp;
    case SQL_C_BINARY:
      return bytes.data();
    default:
      return text.data();
  }
}

SQLLEN BoundParameters::Parameter::Length() const {
  if (cType == SQL_C_BINARY) return static_cast<SQLLEN>(bytes.size());
  if (cType == SQL_C_WCHAR) return static_cast<SQLLEN>(text.size() * sizeof(SQLWCHAR));
  return 0;
}

BoundParameters::Parameter BoundParameters::From(const BoundValue& value) {
  Parameter p;
  const auto asText = [&p](std::string_view utf8, bool isLong) {
    p.cType = SQL_C_WCHAR;
    p.text = Wide(utf8);
    p.sqlType = isLong || p.text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
    p.columnSize = std::max<size_t>(1, p.text.size());
  };
  const auto asBytes = [&p](std::string_view bytes) {
    p.cType = SQL_C_BINARY;
    p.bytes.assign(bytes);
    p.sqlType = SQL_LONGVARBINARY;
    p.columnSize = std::max<size_t>(1, p.bytes.size());
  };
  if (!value.variant) {
    if (value.bytesAreText && value.kind != ValueKind::Binary)
      asText(value.bytes, true);
    else
      asBytes(value.bytes);
  } else {
    CComVariant deref;
    const VARIANT* v = &Dereference(*value.variant, &deref);
    const ValueKind kind = value.kind;
    switch (v->vt) {
      case VT_EMPTY:
      case VT_NULL:
        p.indicator = SQL_NULL_DATA;
        if (kind == ValueKind::Binary) {
          p.cType = SQL_C_BINARY;
          p.sqlType = SQL_LONGVARBINARY;
        } else if (kind == ValueKind::Integer || kind == ValueKind::SmallInt) {
          p.cType = SQL_C_SBIGINT;
          p.sqlType = SQL_BIGINT;
        } else if (kind == ValueKind::Real) {
          p.cType = SQL_C_DOUBLE;
          p.sqlType = SQL_DOUBLE;
        } else if (kind == ValueKind::Date) {
          p.cType = SQL_C_TYPE_TIMESTAMP;
          p.sqlType = SQL_TYPE_TIMESTAMP;
          p.columnSize = 19;
        }
        return p;
      case VT_ARRAY | VT_UI1:
        asBytes(BytesOfArray(v->parray));
        return Measured(std::move(p));
      case VT_DATE:
        if (kind == ValueKind::Text || kind == ValueKind::Binary) break;
        p.cType = SQL_C_TYPE_TIMESTAMP;
        p.sqlType = SQL_TYPE_TIMESTAMP;
        p.columnSize = 19;
        if (!ToTimestamp(v->date, &p.timestamp))
          throw CKvDbException(DISP_E_OVERFLOW, "date value " + PlainDecimal(v->date) + " is out of range");
        return p;
      case VT_R4:
      case VT_R8:
        if (kind == ValueKind::Text || kind == ValueKind::Binary || kind == ValueKind::Boolean) break;
        if (kind == ValueKind::Integer || kind == ValueKind::SmallInt) {
          const double d = v->vt == VT_R8 ? v->dblVal : v->fltVal;
          if (d == static_cast<double>(static_cast<long long>(d))) {
            p.cType = SQL_C_SBIGINT;
            p.sqlType = SQL_BIGINT;
            p.integer = static_cast<long long>(d);
            return p;
          }
        }
        p.cType = SQL_C_DOUBLE;
        p.sqlType = SQL_DOUBLE;
        p.real = v->vt == VT_R8 ? v->dblVal : v->fltVal;
        return p;
      case VT_BOOL:
        if (kind == ValueKind::Boolean) {
          p.cType = SQL_C_BIT;
          p.sqlType = SQL_BIT;
          p.bit = v->boolVal ? 1 : 0;
          return p;
        }
        if (kind == ValueKind::Text) break;
        p.cType = SQL_C_SBIGINT;
        p.sqlType = SQL_BIGINT;
        p.integer = v->boolVal ? 1 : 0;
        return p;
      case VT_I1:
      case VT_I2:
      case VT_I4:
      case VT_I8:
      case VT_UI1:
      case VT_UI2:
      case VT_UI4:
      case VT_INT:
      case VT_UINT:
        if (kind == ValueKind::Text || kind == ValueKind::Binary || kind == ValueKind::Date) break;
        if (kind == ValueKind::Boolean) {
          p.cType = SQL_C_BIT;
          p.sqlType = SQL_BIT;
          p.bit = LongFromVariant(*v) != 0 ? 1 : 0;
          return p;
        }
        if (kind == ValueKind::Real) {
          p.cType = SQL_C_DOUBLE;
          p.sqlType = SQL_DOUBLE;
          p.real = std::stod(StringFromVariant(*v));
          return p;
        }
        p.cType = SQL_C_SBIGINT;
        p.sqlType = SQL_BIGINT;
        p.integer = v->vt == VT_I8 ? v->llVal : std::stoll(StringFromVariant(*v));
        return p;
      default:
        break;
    }
    const std::string text = StringFromVariant(*v);
    // Text for a typed column is handed over typed, so that every driver
    // takes it as the column does.
    DATE date;
    long long number = 0;
    if (kind == ValueKind::Date && TextToDate(text, &date) && ToTimestamp(date, &p.timestamp)) {
      p.cType = SQL_C_TYPE_TIMESTAMP;
      p.sqlType = SQL_TYPE_TIMESTAMP;
      p.columnSize = 19;
      return p;
    }
    if ((kind == ValueKind::Integer || kind == ValueKind::SmallInt) && !text.empty()) {
      size_t used = 0;
      try {
        number = std::stoll(text, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == text.size()) {
        p.cType = SQL_C_SBIGINT;
        p.sqlType = SQL_BIGINT;
        p.integer = number;
        return p;
      }
    }
    if (kind == ValueKind::Binary)
      asBytes(text);
    else
      asText(text, false);
  }
  return Measured(std::move(p));
}

BoundParameters::Parameter BoundParameters::Measured(Parameter p) {
  if (p.Length() > static_cast<SQLLEN>(kPieceBytes)) {
    p.atExecution = true;
    p.indicator = SQL_LEN_DATA_AT_EXEC(p.Length());
  } else {
    p.indicator = p.Length();
  }
  return p;
}

BoundParameters::BoundParameters(const std::vector<BoundValue>& values) {
  m_parameters.reserve(values.size());
  for (const BoundValue& value : values) m_parameters.push_back(From(value));
}

void BoundParameters::Bind(Link& link, SQLHSTMT statement) {
  link.Check(SQLFreeStmt(statement, SQL_RESET_PARAMS), SQL_HANDLE_STMT, statement);
  for (size_t i = 0; i < m_parameters.size(); ++i) {
    Parameter& p = m_parameters[i];
    // At execution the value pointer is only a token naming the parameter.
    SQLPOINTER data = p.atExecution ? reinterpret_cast<SQLPOINTER>(i + 1) : const_cast<void*>(p.Data());
    link.Check(SQLBindParameter(statement, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, p.cType, p.sqlType,
                                p.columnSize, p.digits, data, p.Length(), &p.indicator),
               SQL_HANDLE_STMT, statement);
  }
}

SQLRETURN BoundParameters::Execute(Link& link, SQLHSTMT statement) {
  SQLRETURN rc = SQLExecute(statement);
  while (rc == SQL_NEED_DATA) {
    SQLPOINTER token = nullptr;
    rc = SQLParamData(statement, &token);
    if (rc != SQL_NEED_DATA) break;
    const Parameter& p = m_parameters[reinterpret_cast<size_t>(token) - 1];
    const char* data = static_cast<const char*>(p.Data());
    const size_t total = static_cast<size_t>(p.Length());
    for (size_t sent = 0, piece = 0; sent < total; sent += piece) {
      piece = std::min(kPieceBytes, total - sent);
      // A wide text is cut between characters, never inside a surrogate pair.
      if (p.cType == SQL_C_WCHAR && piece < total - sent) {
        const SQLWCHAR last = p.text[(sent + piece) / sizeof(SQLWCHAR) - 1];
        if (last >= 0xD800 && last <= 0xDBFF) piece -= sizeof(SQLWCHAR);
      }
      link.Check(SQLPutData(statement, const_cast<char*>(data + sent), static_cast<SQLLEN>(piece)), SQL_HANDLE_STMT,
                 statement);
    }
  }
  return rc;
}

}  // namespace kvdbal::odbc
