#include <cctype>
#include <string>

#include "SqliteConnection.h"

namespace kvdbal {
namespace {
bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

// Declared types follow SQLite's own affinity rules, with the types that
// need a VARIANT of their own (booleans, dates, small integers) checked first.
ColumnInfo ClassifySqliteType(const char* declaredType) {
  ColumnInfo info;
  if (!declaredType || !*declaredType) return info;
  std::string t(declaredType);
  for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  bool sized = Has(t, "(");
  if (t.rfind("BOOL", 0) == 0 || t == "BIT") {
    info.kind = ValueKind::Boolean;
  } else if (Has(t, "DATE") || Has(t, "TIME")) {
    info.kind = ValueKind::Date;
  } else if (Has(t, "SMALLINT") || Has(t, "TINYINT") || t == "INT2") {
    info.kind = ValueKind::SmallInt;
  } else if (Has(t, "INT")) {
    info.kind = ValueKind::Integer;
  } else if (Has(t, "CHAR") || Has(t, "CLOB") || Has(t, "TEXT") || Has(t, "STRING")) {
    info.kind = ValueKind::Text;
    info.isLong = !sized;
  } else if (Has(t, "BLOB") || Has(t, "BYTEA") || Has(t, "BINARY")) {
    info.kind = ValueKind::Binary;
    info.isLong = !sized;
  } else if (Has(t, "REAL") || Has(t, "FLOA") || Has(t, "DOUB") || Has(t, "NUMERIC") ||
             Has(t, "DECIMAL") || Has(t, "MONEY") || Has(t, "NUMBER")) {
    info.kind = ValueKind::Real;
  }
  return info;
}

}  // namespace kvdbal
