#include "setup/ProjectPaths.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/com/ObjBase.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kModuleFileName = "libkvhtmldbtools10.so";
}

std::string DataDirectory() {
  // Tests and side-by-side demos point the demo elsewhere.
  if (const char* dir = std::getenv("KVHOST_DATA_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    return (fs::path(xdg) / "kvhtmldbtools").string();
  const char* home = std::getenv("HOME");
  return (fs::path(home && *home ? home : ".") / ".local/share/kvhtmldbtools").string();
}

std::string DemoDatabaseUrl() { return "sqlite:" + (fs::path(DataDirectory()) / "demo.db").string() + "?mode=rwc"; }

std::string DemoFilesDirectory() { return (fs::path(DataDirectory()) / "app").string(); }

std::string ComponentModulePath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    fs::path beside = self.parent_path() / kModuleFileName;
    if (fs::exists(beside, ec)) return beside.string();
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&CoCreateInstance), &info) && info.dli_fname) {
    fs::path platform = fs::canonical(info.dli_fname, ec);
    if (!ec) return (platform.parent_path() / kModuleFileName).string();
  }
  return kModuleFileName;
}

std::string DirectoryBasePath(const std::string& dir) {
  std::error_code ec;
  fs::path canonical = fs::canonical(dir, ec);
  if (ec || !fs::is_directory(canonical, ec)) return "";
  std::string text = canonical.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}
