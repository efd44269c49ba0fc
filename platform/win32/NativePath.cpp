#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "ErrnoToWin32.h"
#include "FileTarget.h"
#include "Win32.h"

std::string KvNativePath(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

namespace kvwin32 {

DWORD PrepareTarget(const char* path, bool followLast, std::string* native) {
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  const std::string text(path);
  if (text.empty()) return ERROR_PATH_NOT_FOUND;
  // A drive names nothing on this system; a network share is not reached.
  if (text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0])))
    return ERROR_PATH_NOT_FOUND;
  *native = KvNativePath(text);
  if (native->size() >= 2 && (*native)[0] == '/' && (*native)[1] == '/' &&
      (native->size() == 2 || (*native)[2] != '/'))
    return ERROR_BAD_NETPATH;
  return CheckConfined(*native, followLast);
}

DWORD MissingTargetError(const std::string& native, int err) {
  if (err == ENOENT) {
    const std::filesystem::path parent = std::filesystem::path(native).parent_path();
    struct stat st;
    if (!parent.empty() && (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
      return ERROR_PATH_NOT_FOUND;
  }
  return KvWin32ErrorFromErrno(err);
}

}  // namespace kvwin32
