#include "engine/CompiledPageCache.h"

#include <chrono>

namespace {

// Longer than any file system's timestamp tick.
constexpr long long kSettledNs = 2'000'000'000LL;

bool Settled(const std::vector<FileStamp>& files) {
  const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  for (const FileStamp& file : files)
    if (file.modifiedNs > now - kSettledNs) return false;
  return true;
}

}  // namespace

bool CompiledPageCache::Unchanged(const std::vector<FileStamp>& files) {
  for (const FileStamp& file : files) {
    FileStamp now;
    if (!FileStamp::Take(file.path, &now) || !now.SameAs(file)) return false;
  }
  return true;
}

std::shared_ptr<const CompiledProgram> CompiledPageCache::Find(const std::string& virtualPath) {
  std::vector<FileStamp> files;
  std::shared_ptr<const CompiledProgram> program;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_entries.find(virtualPath);
    if (it == m_entries.end()) return nullptr;
    m_recent.splice(m_recent.begin(), m_recent, it->second.recent);
    files = it->second.files;
    program = it->second.program;
  }
  // The disk is asked outside the lock; an entry replaced meanwhile is
  // checked again by the next request.
  if (Unchanged(files)) return program;
  std::lock_guard<std::mutex> guard(m_mutex);
  auto it = m_entries.find(virtualPath);
  if (it != m_entries.end() && it->second.program == program) {
    m_recent.erase(it->second.recent);
    m_entries.erase(it);
  }
  return nullptr;
}

void CompiledPageCache::Store(const std::string& virtualPath, std::shared_ptr<const CompiledProgram> program,
                              std::vector<FileStamp> files) {
  if (m_capacity == 0 || !Settled(files)) return;
  std::lock_guard<std::mutex> guard(m_mutex);
  auto it = m_entries.find(virtualPath);
  if (it != m_entries.end()) {
    it->second.program = std::move(program);
    it->second.files = std::move(files);
    m_recent.splice(m_recent.begin(), m_recent, it->second.recent);
    return;
  }
  if (m_entries.size() >= m_capacity) {
    m_entries.erase(m_recent.back());
    m_recent.pop_back();
  }
  m_recent.push_front(virtualPath);
  m_entries.emplace(virtualPath, Entry{std::move(program), std::move(files), m_recent.begin()});
}

size_t CompiledPageCache::Size() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_entries.size();
}
