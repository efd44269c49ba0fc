#include "ProjectPaths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {
constexpr const char* kModuleFileName = "libkvhtmldbtools10.so";
}

std::string DataDirectory() {
  // Tests and side-by-side demos point the demo elsewhere.
  if (const char* dir = std::getenv("KVHOST_DATA_DIR"); dir && *dir) return dir;
  return (fs::path(KVHOST_PROJECT_DIR) / "data").string();
}

std::string DemoDatabaseUrl() { return "sqlite:" + (fs::path(DataDirectory()) / "demo.db").string(); }

std::string DemoFilesDirectory() { return (fs::path(DataDirectory()) / "app").string(); }

std::string ComponentModulePath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    fs::path beside = self.parent_path() / kModuleFileName;
    if (fs::exists(beside, ec)) return beside.string();
  }
#ifdef KVHOST_MODULE_PATH
  return KVHOST_MODULE_PATH;
#else
  return kModuleFileName;
#endif
}

std::string DirectoryBasePath(const std::string& dir) {
  std::error_code ec;
  fs::path canonical = fs::canonical(dir, ec);
  if (ec || !fs::is_directory(canonical, ec)) return "";
  std::string text = canonical.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}
