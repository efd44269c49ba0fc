// Confinement of the file services to root directories. A path counts as
// inside when both its lexical form ('..' applied to the text) and its
// physical form (symbolic links of the existing part resolved) lie below a
// root, so neither "root/../x" nor a link inside the root that leads out of
// it reaches anything outside.
#include <filesystem>
#include <mutex>

#include "ErrnoToWin32.h"
#include "FileTarget.h"
#include "Win32.h"

namespace fs = std::filesystem;

namespace {

struct Root {
  fs::path lexical;
  fs::path physical;
};

std::mutex g_mutex;
std::vector<std::string> g_given;
std::vector<Root> g_roots;

fs::path WithoutTrailingSeparator(fs::path p) {
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

fs::path Lexical(const fs::path& p) { return WithoutTrailingSeparator(fs::absolute(p).lexically_normal()); }

bool Within(const fs::path& p, const fs::path& root) {
  auto pi = p.begin();
  for (auto ri = root.begin(); ri != root.end(); ++ri, ++pi) {
    if (ri->empty()) continue;  // a trailing separator of the root
    if (pi == p.end() || *pi != *ri) return false;
  }
  return true;
}

bool Inside(const fs::path& p, const std::vector<Root>& roots) {
  for (const Root& r : roots)
    if (Within(p, r.lexical) || Within(p, r.physical)) return true;
  return false;
}

}  // namespace

void KvSetFileRoots(const std::vector<std::string>& roots) {
  std::vector<Root> resolved;
  for (const std::string& given : roots) {
    Root r;
    r.lexical = Lexical(KvNativePath(given));
    std::error_code ec;
    r.physical = WithoutTrailingSeparator(fs::weakly_canonical(r.lexical, ec));
    if (ec) r.physical = r.lexical;
    resolved.push_back(std::move(r));
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_given = roots;
  g_roots = std::move(resolved);
}

std::vector<std::string> KvGetFileRoots() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_given;
}

namespace kvwin32 {

DWORD CheckConfined(const std::string& native, bool followLast) {
  std::vector<Root> roots;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_roots.empty()) return ERROR_SUCCESS;
    roots = g_roots;
  }
  std::error_code ec;
  const fs::path absolute = fs::absolute(fs::path(native), ec);
  if (ec) return KvWin32ErrorFromErrno(ec.value());
  const fs::path lexical = WithoutTrailingSeparator(absolute.lexically_normal());

  // The physical form: resolve the existing part as the system would walk
  // it; a last component that the service acts on itself stays unresolved.
  fs::path physical;
  const fs::path name = absolute.filename();
  if (!followLast && !name.empty() && name != "." && name != "..") {
    physical = fs::weakly_canonical(absolute.parent_path(), ec) / name;
  } else {
    physical = fs::weakly_canonical(absolute, ec);
  }
  if (ec) return KvWin32ErrorFromErrno(ec.value());
  physical = WithoutTrailingSeparator(physical.lexically_normal());

  return Inside(lexical, roots) && Inside(physical, roots) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace kvwin32
