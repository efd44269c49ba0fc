#include "UploadFiles.h"

#include <algorithm>

#include "../common/Format.h"
#include "../diagnostics/Trace.h"
#include "../outside/FileServices.h"

std::string PlainUploadPath(const std::string& basePath, const std::string& url) {
  std::string path = basePath + url;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string JoinedUploadPath(const CFilePath& basePath, const std::string& url) {
  const bool rooted = !url.empty() && (url[0] == '/' || url[0] == '\\');
  return basePath.Join(rooted ? url.substr(1) : url).GetText();
}

namespace {

// The system's message text for an error code, in the user's language; empty
// when the system has none.
std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, LOCALE_USER_DEFAULT, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (buffer) {
    if (length > 0) text.assign(buffer, length);
    LocalFree(buffer);
  }
  return text;
}

}  // namespace

bool RemoveUploadFile(const std::string& path, int traceSite) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD code = GetLastError();
  // A report that cannot be built (memory) is lost like any trace line; the
  // caller only needs to know that the file is still there.
  try {
    const std::string message =
        Format("Could not delete file: %s. GetLastError returns %d\n%s\n", path.c_str(),
               static_cast<int>(code), SystemErrorText(code).c_str());
    TraceReport("File Warning", kSourceDataPump, traceSite, message);
  } catch (const std::bad_alloc&) {
  }
  return false;
}
