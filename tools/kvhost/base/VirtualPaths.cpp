#include "base/VirtualPaths.h"

#include <vector>

namespace fs = std::filesystem;

bool NormalizeVirtualPath(std::string_view path, std::string* out) {
  std::vector<std::string_view> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view segment = path.substr(start, slash - start);
    if (segment == "..") {
      if (segments.empty()) return false;
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  out->clear();
  for (std::string_view segment : segments) {
    *out += '/';
    *out += segment;
  }
  if (out->empty() || (!path.empty() && path.back() == '/' && out->size() > 1)) *out += '/';
  return true;
}

bool ResolveVirtualPath(const std::string& pageVirtualPath, std::string_view path, std::string* out) {
  if (!path.empty() && path[0] == '/') return NormalizeVirtualPath(path, out);
  size_t slash = pageVirtualPath.rfind('/');
  std::string joined(slash == std::string::npos ? std::string_view("/")
                                                : std::string_view(pageVirtualPath).substr(0, slash + 1));
  joined.append(path);
  return NormalizeVirtualPath(joined, out);
}

bool MapVirtualPath(const std::string& rootDirectory, const std::string& pageVirtualPath,
                    std::string_view path, std::string* out) {
  std::string virtualPath;
  if (path.find('\\') != std::string_view::npos || path.find('\0') != std::string_view::npos) return false;
  if (!ResolveVirtualPath(pageVirtualPath, path, &virtualPath)) return false;
  std::string root = rootDirectory;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  *out = root + (virtualPath == "/" ? "" : virtualPath);
  return true;
}

std::string UnderRoot(const std::string& rootDirectory, std::string_view virtualPath) {
  // Joined as text: fs::path's '/' would let an absolute virtual path
  // replace the root.
  return (rootDirectory == "/" ? std::string() : rootDirectory) + std::string(virtualPath);
}

bool ResolveInsideRoot(const std::string& rootDirectory, std::string_view virtualPath, fs::path* resolved,
                       std::string* below) {
  std::error_code ec;
  fs::path canonical = fs::canonical(UnderRoot(rootDirectory, virtualPath), ec);
  if (ec) return false;
  // Whole names only: "/site-other" is not below "/site"; "/" holds all.
  const std::string_view text = canonical.native();
  const std::string prefix = UnderRoot(rootDirectory, "");
  if (text.substr(0, prefix.size()) != prefix) return false;
  const std::string_view rest = text.substr(prefix.size());
  if (!rest.empty() && rest.front() != '/') return false;
  if (below) *below = rest.empty() ? std::string("/") : std::string(rest);
  *resolved = std::move(canonical);
  return true;
}
