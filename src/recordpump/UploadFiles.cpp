#include "UploadFiles.h"

#include <unistd.h>

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

PendingFileRemoval::~PendingFileRemoval() {
  if (m_kept.empty()) return;
  // Put back under its own name; when that name is taken meanwhile the kept
  // name stays, so the content is never lost.
  if (CreateHardLinkA(m_path.c_str(), m_kept.c_str(), nullptr)) DeleteFileA(m_kept.c_str());
}

bool PendingFileRemoval::Remove(const std::string& path, int traceSite) {
  // Without a second name (a directory, a name already taken) the removal
  // cannot be taken back, which is still better than not removing.
  std::string kept = Format("%s.kvremoving-%d", path.c_str(), static_cast<int>(getpid()));
  if (!CreateHardLinkA(kept.c_str(), path.c_str(), nullptr)) kept.clear();
  if (!RemoveUploadFile(path, traceSite)) {
    if (!kept.empty()) DeleteFileA(kept.c_str());
    return false;
  }
  m_path = path;
  m_kept = std::move(kept);
  m_traceSite = traceSite;
  return true;
}

void PendingFileRemoval::Finish() {
  if (!m_kept.empty()) RemoveUploadFile(m_kept, m_traceSite);
  m_kept.clear();
}
