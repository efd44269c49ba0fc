// Where each line of a script made from page files came from, so that an
// error names the page file and the page's own line.
#pragma once

#include <string>
#include <vector>

class ScriptSourceMap {
 public:
  // Records that the next script line comes from line `line` of file.
  void AddLine(const std::string& file, long line);
  // The line just begun comes from line `line` of file after all.
  void ReplaceLastLine(const std::string& file, long line) {
    if (!m_lines.empty()) m_lines.pop_back();
    AddLine(file, line);
  }
  // "file:line" for a script line (1-based); "" when the line is unknown.
  std::string Place(long scriptLine) const;
  size_t Lines() const { return m_lines.size(); }

 private:
  struct Origin {
    size_t file;
    long line;
  };
  std::vector<std::string> m_files;
  std::vector<Origin> m_lines;
};
