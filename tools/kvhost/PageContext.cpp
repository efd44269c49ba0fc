#include "PageContext.h"

#include <cctype>

namespace {
std::string FoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}
}  // namespace

bool PageValueStore::Get(const std::string& name, VARIANT* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_values.find(FoldName(name));
  if (it == m_values.end()) return false;
  return SUCCEEDED(VariantCopy(out, &it->second));
}

void PageValueStore::Put(const std::string& name, const VARIANT& value) {
  CComVariant copy;
  if (FAILED(VariantCopy(&copy, &value))) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_values[FoldName(name)] = std::move(copy);
}

void PageValueStore::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_values.clear();
}

void PageResponse::Write(std::string_view text) {
  if (m_stream)
    std::fwrite(text.data(), 1, text.size(), m_stream);
  else
    body.append(text);
}
