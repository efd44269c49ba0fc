#include <cstring>

#include "../../com/AsciiCase.h"
#include "SqliteConnection.h"

namespace kvdbal {
namespace {

bool Has(const char* upper, const char* word) { return std::strstr(upper, word) != nullptr; }

}  // namespace

// Declared types follow SQLite's own affinity rules, with the types that
// need a VARIANT of their own (booleans, dates, small integers) checked first.
ColumnInfo ClassifySqliteType(const char* declaredType) {
  ColumnInfo info;
  if (!declaredType || !*declaredType) return info;
  // Types are short; a longer one is judged by its first characters.
  char t[64];
  size_t n = 0;
  for (; declaredType[n] && n < sizeof t - 1; ++n)
    t[n] = UpperAsciiChar(declaredType[n]);
  t[n] = '\0';
  // The names almost every schema uses, without the search below.
  static const struct {
    const char* name;
    ColumnInfo info;
  } kCommon[] = {{"INTEGER", {ValueKind::Integer, false}}, {"INT", {ValueKind::Integer, false}},
                 {"TEXT", {ValueKind::Text, true}},        {"BLOB", {ValueKind::Binary, true}},
                 {"REAL", {ValueKind::Real, false}},       {"DATETIME", {ValueKind::Date, false}},
                 {"TIMESTAMP", {ValueKind::Date, false}}};
  for (const auto& common : kCommon)
    if (std::strcmp(t, common.name) == 0) return common.info;
  bool sized = std::strchr(t, '(') != nullptr;
  if (std::strncmp(t, "BOOL", 4) == 0 || std::strcmp(t, "BIT") == 0) {
    info.kind = ValueKind::Boolean;
  } else if (Has(t, "DATE") || Has(t, "TIME")) {
    info.kind = ValueKind::Date;
  } else if (Has(t, "SMALLINT") || Has(t, "TINYINT") || std::strcmp(t, "INT2") == 0) {
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
