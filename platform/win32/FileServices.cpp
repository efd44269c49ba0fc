// DeleteFileA, CopyFileA, CreateHardLinkA and PathExistsA on POSIX files, with the results
// and error codes of their Windows namesakes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "ErrnoToWin32.h"
#include "FileTarget.h"
#include "Win32.h"

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Windows refuses to delete or overwrite a read-only file; a file without
// its owner's write permission is this system's read-only file.
bool ReadOnly(const struct stat& st) { return !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR); }

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  int Close() {
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

// Copies all of in to out; 0 or the errno of the failure.
int CopyContent(int in, int out) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += put;
    }
  }
}

}  // namespace

BOOL DeleteFileA(const char* lpFileName) {
  std::string path;
  if (DWORD err = kvwin32::PrepareTarget(lpFileName, false, &path)) return Fail(err);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Fail(kvwin32::MissingTargetError(path, errno));
  if (S_ISDIR(st.st_mode) || ReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (::unlink(path.c_str()) != 0) return Fail(kvwin32::MissingTargetError(path, errno));
  return TRUE;
}

// The copy is written to a temporary file beside the target and moved into
// place at the end, so a failed copy never leaves a half-written target.
BOOL CopyFileA(const char* lpExistingFileName, const char* lpNewFileName, BOOL bFailIfExists) {
  std::string source, target;
  if (DWORD err = kvwin32::PrepareTarget(lpExistingFileName, true, &source)) return Fail(err);
  if (DWORD err = kvwin32::PrepareTarget(lpNewFileName, false, &target)) return Fail(err);

  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return Fail(kvwin32::MissingTargetError(source, errno));
  struct stat st;
  if (::fstat(in.Get(), &st) != 0) return Fail(KvWin32ErrorFromErrno(errno));
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  struct stat existing;
  if (::lstat(target.c_str(), &existing) == 0) {
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISDIR(existing.st_mode) || ReadOnly(existing)) return Fail(ERROR_ACCESS_DENIED);
  }

  std::string temp = target + ".kvcopy-XXXXXX";
  Fd out(::mkostemp(temp.data(), O_CLOEXEC));
  if (out.Get() < 0) return Fail(kvwin32::MissingTargetError(target, errno));
  int err = CopyContent(in.Get(), out.Get());
  if (err == 0 && ::fchmod(out.Get(), st.st_mode & 07777) != 0) err = errno;
  if (out.Close() != 0 && err == 0) err = errno;
  if (err == 0) {
    if (bFailIfExists) {
      // link() refuses an existing name, so a target that appeared meanwhile survives.
      if (::link(temp.c_str(), target.c_str()) != 0) err = errno;
    } else if (::rename(temp.c_str(), target.c_str()) != 0) {
      err = errno;
    }
  }
  if (err != 0 || bFailIfExists) ::unlink(temp.c_str());
  if (err != 0) return Fail(KvWin32ErrorFromErrno(err));
  return TRUE;
}

BOOL CreateHardLinkA(const char* lpFileName, const char* lpExistingFileName, void* /*lpSecurityAttributes*/) {
  std::string existing, name;
  if (DWORD err = kvwin32::PrepareTarget(lpExistingFileName, false, &existing)) return Fail(err);
  if (DWORD err = kvwin32::PrepareTarget(lpFileName, false, &name)) return Fail(err);
  if (::link(existing.c_str(), name.c_str()) != 0) {
    // Windows answers a directory with access denied, as POSIX does with EPERM.
    return Fail(errno == ENOENT ? kvwin32::MissingTargetError(existing, errno) : KvWin32ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL PathExistsA(const char* lpPath) {
  std::string path;
  if (DWORD err = kvwin32::PrepareTarget(lpPath, true, &path)) return Fail(err);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Fail(kvwin32::MissingTargetError(path, errno));
  return TRUE;
}
