// CFilePath: a parsed file path of the web server's file system, as the
// upload urls and application base paths give them. It understands drive
// letters ("C:"), network prefixes ("\\server"), both separators, "." and
// "..", and keeps the separator of the text it was built from, so a path
// built from a POSIX base path stays POSIX-looking and a Windows one stays
// Windows-looking.
#pragma once

#include <string>
#include <vector>

class CFilePath {
 public:
  CFilePath() = default;
  explicit CFilePath(const std::string& text);

  // Appends text: a network prefix or a drive in front replaces the head of
  // the path, a leading separator goes back to the root, the rest is added
  // component by component.
  CFilePath& Append(const std::string& text);
  // A copy of this path with text appended.
  CFilePath Join(const std::string& text) const;
  // The components joined by the separator, with one separator in front for
  // an absolute path.
  const std::string& GetText() const;

  const std::vector<std::string>& Components() const { return m_arrComponents; }
  char Separator() const { return m_cSeparator; }
  bool IsAbsolute() const { return m_bAbsolute; }

 private:
  // True when the first component is a drive or a network prefix, which a
  // rooted text keeps.
  bool HasHead() const;
  // Consumes a network prefix or a drive at the start of text; returns the
  // position where the rest of the text begins.
  size_t TakePrefix(const std::string& text);
  void AppendComponents(const std::string& text, size_t pos);

  std::vector<std::string> m_arrComponents;
  char m_cSeparator = '\\';
  bool m_bAbsolute = false;
  mutable std::string m_strText;
  mutable bool m_bStale = true;
};
