#include "state/DatabaseApplication.h"

#include <stdexcept>

#include "state/VariantCodec.h"

namespace {
// Names are any text a page chooses; as hex they are safe in any statement.
std::string NameKey(const std::string& name) { return StateDatabase::Quoted(HexOf(FoldValueName(name))); }
}  // namespace

HeldLock DatabaseApplication::Lock(std::chrono::steady_clock::time_point deadline) {
  return m_database.Lock("application", deadline);
}

bool DatabaseApplication::Get(const std::string& name, VARIANT* out) const {
  auto row = m_database.QueryRow("SELECT kept FROM kvhost_application WHERE name_key = " + NameKey(name));
  std::string bytes;
  if (!row || row->empty() || !BytesOfHex(row->front(), &bytes)) return false;
  std::string_view in = bytes;
  CComVariant value;
  if (!DecodeVariant(&in, &value)) return false;
  return SUCCEEDED(VariantCopy(out, &value));
}

void DatabaseApplication::Put(const std::string& name, const VARIANT& value) {
  std::string bytes;
  if (!EncodeVariant(value, &bytes)) throw std::runtime_error("the value cannot be kept in the application");
  const std::string kept = StateDatabase::Quoted(HexOf(bytes));
  m_database.Execute("INSERT INTO kvhost_application (name_key, kept) VALUES (" + NameKey(name) + ", " + kept +
                     ") ON CONFLICT (name_key) DO UPDATE SET kept = excluded.kept");
}
