#include "page/PageContext.h"

#include "platform/com/AsciiCase.h"

std::string FoldValueName(const std::string& name) { return LowerAscii(name); }

bool PageValueStore::Get(const std::string& name, VARIANT* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_values.find(FoldValueName(name));
  if (it == m_values.end()) return false;
  return SUCCEEDED(VariantCopy(out, &it->second));
}

void PageValueStore::Put(const std::string& name, const VARIANT& value) {
  CComVariant copy;
  if (FAILED(VariantCopy(&copy, &value))) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_values[FoldValueName(name)] = std::move(copy);
}

void PageValueStore::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_values.clear();
}

KeptValues PageValueStore::Snapshot() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_values;
}

void PageValueStore::Replace(KeptValues values) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_values.swap(values);
}

HeldLock MemoryApplication::Lock(std::chrono::steady_clock::time_point deadline) {
  if (deadline == std::chrono::steady_clock::time_point::max())
    m_lock.lock();
  else if (!m_lock.try_lock_until(deadline))
    return HeldLock();
  return HeldLock([this] { m_lock.unlock(); });
}

void PageResponse::Write(std::string_view text) {
  if (m_stream)
    std::fwrite(text.data(), 1, text.size(), m_stream);
  else
    body.append(text);
}
