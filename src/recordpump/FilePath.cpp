#include "FilePath.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsNetworkPrefix(const std::string& text) {
  return text.size() >= 2 && text[0] == '\\' && text[1] == '\\';
}

bool IsDrive(const std::string& text) {
  return text.size() >= 2 && !IsSeparator(text[0]) && text[1] == ':';
}

}  // namespace

CFilePath::CFilePath(const std::string& text)
    : m_cSeparator(text.find('/') != std::string::npos ? '/' : '\\') {
  Append(text);
}

CFilePath& CFilePath::Append(const std::string& text) {
  size_t pos = TakePrefix(text);
  if (pos < text.size() && IsSeparator(text[pos])) {
    // A rooted text starts again below the drive or server; a path without
    // either starts again at the top of the file system.
    if (HasHead()) {
      m_arrComponents.resize(1);
    } else {
      m_arrComponents.clear();
      m_bAbsolute = true;
    }
    ++pos;
  }
  AppendComponents(text, pos);
  m_bStale = true;
  return *this;
}

bool CFilePath::HasHead() const {
  if (m_bAbsolute || m_arrComponents.empty()) return false;
  const std::string& first = m_arrComponents.front();
  return IsNetworkPrefix(first) || (first.size() == 2 && IsDrive(first));
}

size_t CFilePath::TakePrefix(const std::string& text) {
  if (IsNetworkPrefix(text)) {
    // "\\server", or the bare "\\" when a separator follows at once; what
    // comes after goes on as a rooted text below it.
    m_arrComponents.clear();
    m_bAbsolute = false;
    size_t end = 2;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    m_arrComponents.push_back(text.substr(0, end));
    return end;
  }
  if (IsDrive(text)) {
    if (m_arrComponents.empty()) m_arrComponents.emplace_back();
    m_arrComponents.front() = text.substr(0, 2);
    m_bAbsolute = false;
    return 2;
  }
  return 0;
}

void CFilePath::AppendComponents(const std::string& text, size_t pos) {
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    std::string piece = text.substr(pos, end - pos);
    pos = end + 1;
    if (piece.empty() || piece == ".") continue;
    // ".." never climbs over the first component (a drive, a server or the
    // top directory): with nothing to climb over it stays in the path, and
    // a later ".." cannot cancel one that stayed.
    if (piece == ".." && m_arrComponents.size() >= 2 && m_arrComponents.back() != "..") {
      m_arrComponents.pop_back();
      continue;
    }
    m_arrComponents.push_back(std::move(piece));
  }
}

CFilePath CFilePath::Join(const std::string& text) const {
  CFilePath joined(*this);
  joined.Append(text);
  return joined;
}

const std::string& CFilePath::GetText() const {
  if (m_bStale) {
    std::string text;
    if (m_bAbsolute) {
      text += m_cSeparator;
    } else if (!m_arrComponents.empty() && !HasHead() && IsDrive(m_arrComponents.front())) {
      // A first name such as "C:x" that came after a "." would read back
      // as a drive; the "." keeps it a name.
      text += '.';
      text += m_cSeparator;
    }
    for (size_t i = 0; i < m_arrComponents.size(); ++i) {
      if (i > 0) text += m_cSeparator;
      text += m_arrComponents[i];
    }
    m_strText = std::move(text);
    m_bStale = false;
  }
  return m_strText;
}
