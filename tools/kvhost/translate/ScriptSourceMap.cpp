#include "translate/ScriptSourceMap.h"

void ScriptSourceMap::AddLine(const std::string& file, long line) {
  if (m_files.empty() || m_files.back() != file) {
    size_t index = 0;
    while (index < m_files.size() && m_files[index] != file) ++index;
    if (index == m_files.size()) m_files.push_back(file);
    m_lines.push_back({index, line});
    return;
  }
  m_lines.push_back({m_files.size() - 1, line});
}

std::string ScriptSourceMap::Place(long scriptLine) const {
  if (scriptLine < 1 || static_cast<size_t>(scriptLine) > m_lines.size()) return "";
  const Origin& origin = m_lines[static_cast<size_t>(scriptLine) - 1];
  return m_files[origin.file] + ":" + std::to_string(origin.line);
}
