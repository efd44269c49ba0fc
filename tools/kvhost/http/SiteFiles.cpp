#include "http/SiteFiles.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "base/VirtualPaths.h"
#include "platform/com/AsciiCase.h"

namespace fs = std::filesystem;

namespace {

std::string ExtensionOf(std::string_view path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return "";
  return LowerAscii(path.substr(dot + 1));
}

// Every segment of a '/'-separated path; false when one is empty (but the
// last), starts with '.' (".", "..", dot-files) or holds a separator or NUL.
bool SegmentsAreSafe(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  size_t start = 1;
  while (start < path.size()) {
    size_t slash = path.find('/', start);
    std::string_view segment = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
    if (segment.empty() || segment[0] == '.' || segment.find_first_of(std::string_view("\\\0:", 3)) != segment.npos)
      return false;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return true;
}

// Encoded '/', '\' and NUL would let a name carry a separator past the checks.
bool HasEncodedSeparator(std::string_view rawPath) {
  std::string lower = LowerAscii(rawPath);
  return lower.find("%2f") != std::string::npos || lower.find("%5c") != std::string::npos ||
         lower.find("%00") != std::string::npos;
}

bool NeverSentRaw(std::string_view path) {
  const std::string extension = ExtensionOf(path);
  return extension == "inc" || extension == "asa";
}

enum class Look { Found, Missing, Unsure };

// Looks at path without following any symbolic link on the way (the root
// is canonical, and the segments were checked, so a path found so is the
// one named, inside the root). Unsure when a link is on the way or the
// kernel cannot look so; the caller then resolves the path in full.
Look LookWithoutLinks(const std::string& path, struct stat* info) {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Look::Missing : Look::Unsure;
  const bool looked = fstat(static_cast<int>(fd), info) == 0;
  close(static_cast<int>(fd));
  return looked ? Look::Found : Look::Unsure;
}

}  // namespace

SiteFiles::SiteFiles(const std::string& root) : m_root(fs::canonical(root).string()) {}

SiteTarget SiteFiles::Resolve(std::string_view rawPath, std::string_view decodedPath) const {
  SiteTarget target;
  if (HasEncodedSeparator(rawPath) || !SegmentsAreSafe(decodedPath)) {
    target.kind = SiteTarget::Forbidden;
    return target;
  }
  std::string resolvedText;
  std::string inside;  // the resolved path below the root
  bool directory = false, regular = false;
  struct stat info {};
  std::error_code ec;
  const std::string named = UnderRoot(m_root, decodedPath);
  // Most addresses reach their file without a link: one look finds it.
  switch (LookWithoutLinks(named, &info)) {
    case Look::Missing: return target;
    case Look::Found:
      resolvedText = named;
      inside = std::string(decodedPath);
      directory = S_ISDIR(info.st_mode);
      regular = S_ISREG(info.st_mode);
      break;
    case Look::Unsure: {
      fs::path resolved;
      if (!ResolveInsideRoot(m_root, decodedPath, &resolved, &inside)) {
        // Missing (404), or there through a symlink that leads out (403).
        if (fs::exists(named, ec)) target.kind = SiteTarget::Forbidden;
        return target;
      }
      resolvedText = resolved.native();
      if (!SegmentsAreSafe(inside)) {
        target.kind = SiteTarget::Forbidden;  // a link onto a dot-file
        return target;
      }
      // One look at the file answers both questions below.
      const fs::file_status status = fs::status(resolved, ec);
      directory = fs::is_directory(status);
      regular = fs::is_regular_file(status);
      break;
    }
  }
  std::string virtualPath(decodedPath);
  if (directory) {
    if (virtualPath.back() != '/') {
      target.kind = SiteTarget::AddSlash;
      target.virtualPath = virtualPath + "/";
      return target;
    }
    for (const char* index : {"default.asp", "index.html"}) {
      if (fs::is_regular_file(fs::path(resolvedText) / index, ec))
        return Resolve(std::string(rawPath) + index, virtualPath + index);
    }
    return target;
  }
  if (!regular) return target;
  target.virtualPath = virtualPath;
  if (ExtensionOf(virtualPath) == "asp") {
    target.kind = SiteTarget::Page;
  } else if (NeverSentRaw(virtualPath) || NeverSentRaw(inside) || ExtensionOf(inside) == "asp") {
    target.kind = SiteTarget::Forbidden;
  } else {
    target.kind = SiteTarget::File;
    target.filePath = resolvedText;
  }
  return target;
}

std::string ContentTypeOf(std::string_view path) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {"html", "text/html; charset=utf-8"}, {"htm", "text/html; charset=utf-8"},
      {"css", "text/css; charset=utf-8"},   {"js", "text/javascript; charset=utf-8"},
      {"json", "application/json"},         {"txt", "text/plain; charset=utf-8"},
      {"xml", "application/xml"},           {"svg", "image/svg+xml"},
      {"png", "image/png"},                 {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},               {"gif", "image/gif"},
      {"webp", "image/webp"},               {"ico", "image/x-icon"},
      {"pdf", "application/pdf"},           {"woff", "font/woff"},
      {"woff2", "font/woff2"},              {"csv", "text/csv; charset=utf-8"},
  };
  const std::string extension = ExtensionOf(path);
  for (const auto& [ext, type] : kTypes)
    if (extension == ext) return type;
  return "application/octet-stream";
}
