#include "Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Creates every missing directory of the file's parent path.
bool MakeParentDirectories(const std::string& filePath) {
  size_t slash = filePath.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  std::string dir = filePath.substr(0, slash);
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') {
      std::string part = dir.substr(0, p);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* out, bool* missing) {
  *missing = false;
  out->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *missing = (errno == ENOENT);
    return *missing;
  }
  char buf[8192];
  bool ok = true;
  while (true) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    out->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Parsed files are kept while the file stays the same one: a commit renames a
// new file into place, which changes the inode, so (device, inode, size,
// mtime) tells a stale cache entry from a current one.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const FileIdentity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

struct CachedFile {
  FileIdentity identity;
  std::shared_ptr<const KvRegistryTree> tree;
};

struct SnapshotCache {
  std::mutex lock;
  std::map<std::string, CachedFile> files;  // the few registry files of the search path
};

SnapshotCache& Cache() {
  static SnapshotCache cache;
  return cache;
}

// False when the file cannot be identified; *missing then tells whether it
// simply does not exist.
bool Identify(const std::string& path, FileIdentity* id, bool* missing) {
  struct stat st;
  *missing = false;
  if (stat(path.c_str(), &st) != 0) {
    *missing = errno == ENOENT;
    return false;
  }
  id->dev = st.st_dev;
  id->ino = st.st_ino;
  id->size = st.st_size;
  id->mtime = st.st_mtim;
  return true;
}

HRESULT ParseFile(const std::string& path, KvRegistryTree* tree) {
  std::string text;
  bool missing = false;
  if (!ReadWholeFile(path, &text, &missing)) return REGDB_E_READREGDB;
  if (missing) {
    *tree = KvRegistryTree();
    return S_OK;
  }
  return KvRegistryTree::Parse(text, tree) ? S_OK : REGDB_E_READREGDB;
}

}  // namespace

namespace {

struct ChosenFile {
  std::mutex lock;
  std::string path;
};

ChosenFile& Chosen() {
  static ChosenFile chosen;
  return chosen;
}

}  // namespace

void KvRegistryUseFile(const std::string& path) {
  ChosenFile& chosen = Chosen();
  std::lock_guard<std::mutex> guard(chosen.lock);
  chosen.path = path;
}

std::string KvRegistryFilePath(KvRegistrySource* source) {
  KvRegistrySource ignored;
  if (!source) source = &ignored;
  {
    ChosenFile& chosen = Chosen();
    std::lock_guard<std::mutex> guard(chosen.lock);
    if (!chosen.path.empty()) {
      *source = KvRegistrySource::Chosen;
      return chosen.path;
    }
  }
  if (const char* explicitPath = std::getenv("KVCOM_REGISTRY"); explicitPath && *explicitPath) {
    *source = KvRegistrySource::Environment;
    return explicitPath;
  }
  *source = KvRegistrySource::PerUser;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    return std::string(xdg) + "/kvcom/registry";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.config/kvcom/registry";
  return "kvcom-registry";
}

std::string KvSystemRegistryFilePath() {
  // The library stays where it was loaded from, and asking the loader where
  // that is walks its module list: every creation by ProgID would pay it.
  static const std::string path = [] {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&KvSystemRegistryFilePath), &info) || !info.dli_fname)
      return std::string();
    std::string library = info.dli_fname;
    size_t slash = library.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) + "/kvcom/registry";
  }();
  return path;
}

std::vector<std::string> KvRegistrySearchPath() {
  std::vector<std::string> files{KvRegistryFilePath()};
  std::string system = KvSystemRegistryFilePath();
  if (!system.empty() && system != files.front()) files.push_back(system);
  return files;
}

HRESULT KvRegistryLoadFile(const std::string& path, std::shared_ptr<const KvRegistryTree>* out) {
  out->reset();
  FileIdentity identity;
  bool missing = false;
  const bool exists = Identify(path, &identity, &missing);
  if (missing) {
    // A registry not written yet is empty; the system registry of a build
    // tree never is, and asks nothing more of the file system than this.
    static const auto empty = std::make_shared<const KvRegistryTree>();
    *out = empty;
    return S_OK;
  }
  SnapshotCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.lock);
  auto cached = cache.files.find(path);
  if (exists && cached != cache.files.end() && cached->second.identity == identity) {
    *out = cached->second.tree;
    return S_OK;
  }
  auto tree = std::make_shared<KvRegistryTree>();
  HRESULT hr = ParseFile(path, tree.get());
  if (FAILED(hr)) return hr;
  if (exists) cache.files[path] = CachedFile{identity, tree};
  *out = std::move(tree);
  return S_OK;
}

HRESULT KvRegistryLoad(std::shared_ptr<const KvRegistryTree>* out) {
  return KvRegistryLoadFile(KvRegistryFilePath(), out);
}

namespace {

// The key in the first registry file of the search path that has it; its
// tree is kept alive through *holder.
HRESULT FindKey(std::string_view keyPath, std::shared_ptr<const KvRegistryTree>* holder,
                const KvRegistryTree::Key** key, std::string* file) {
  for (const std::string& path : KvRegistrySearchPath()) {
    HRESULT hr = KvRegistryLoadFile(path, holder);
    if (FAILED(hr)) return hr;
    if (const KvRegistryTree::Key* found = (*holder)->Find(keyPath)) {
      *key = found;
      if (file) *file = path;
      return S_OK;
    }
  }
  return kNotFound;
}

}  // namespace

HRESULT KvRegQueryValueWhere(std::string_view keyPath, std::string_view valueName, std::string* value,
                             std::string* file) {
  std::shared_ptr<const KvRegistryTree> tree;
  const KvRegistryTree::Key* key = nullptr;
  HRESULT hr = FindKey(keyPath, &tree, &key, file);
  if (FAILED(hr)) return hr;
  if (valueName.empty()) {
    if (!key->defaultValue) return kNotFound;
    *value = *key->defaultValue;
    return S_OK;
  }
  auto it = key->values.find(std::string(valueName));
  if (it == key->values.end()) return kNotFound;
  *value = it->second;
  return S_OK;
}

HRESULT KvRegQueryValue(std::string_view keyPath, std::string_view valueName, std::string* value) {
  return KvRegQueryValueWhere(keyPath, valueName, value, nullptr);
}

bool KvRegKeyExists(std::string_view keyPath) {
  std::shared_ptr<const KvRegistryTree> tree;
  const KvRegistryTree::Key* key = nullptr;
  return SUCCEEDED(FindKey(keyPath, &tree, &key, nullptr));
}

HRESULT KvRegEnumKeys(std::string_view keyPath, std::vector<std::string>* names) {
  names->clear();
  std::shared_ptr<const KvRegistryTree> tree;
  const KvRegistryTree::Key* key = nullptr;
  HRESULT hr = FindKey(keyPath, &tree, &key, nullptr);
  if (FAILED(hr)) return hr;
  for (const auto& [name, sub] : key->subkeys) names->push_back(sub->name);
  return S_OK;
}

KvRegistryTransaction::~KvRegistryTransaction() {
  if (m_lockFd >= 0) close(m_lockFd);  // closing the descriptor drops the flock
}

HRESULT KvRegistryTransaction::Begin() {
  if (m_lockFd >= 0) return E_UNEXPECTED;
  m_path = KvRegistryFilePath();
  if (!MakeParentDirectories(m_path)) return REGDB_E_WRITEREGDB;
  const std::string lockPath = m_path + ".lock";
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return REGDB_E_WRITEREGDB;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return REGDB_E_WRITEREGDB;
    }
  }
  const HRESULT hr = ParseFile(m_path, &m_tree);
  if (FAILED(hr)) {
    close(fd);  // a transaction that cannot start holds nothing
    return hr;
  }
  m_lockFd = fd;
  return S_OK;
}

HRESULT KvRegistryTransaction::CreateKey(std::string_view keyPath) {
  if (m_lockFd < 0) return E_UNEXPECTED;
  return m_tree.Create(keyPath) ? S_OK : E_INVALIDARG;
}

HRESULT KvRegistryTransaction::SetValue(std::string_view keyPath, std::string_view valueName,
                                        std::string_view value) {
  if (m_lockFd < 0) return E_UNEXPECTED;
  KvRegistryTree::Key* key = m_tree.Create(keyPath);
  if (!key) return E_INVALIDARG;
  if (valueName.empty())
    key->defaultValue = std::string(value);
  else
    key->values[std::string(valueName)] = std::string(value);
  return S_OK;
}

HRESULT KvRegistryTransaction::DeleteValue(std::string_view keyPath, std::string_view valueName) {
  if (m_lockFd < 0) return E_UNEXPECTED;
  KvRegistryTree::Key* key = m_tree.Find(keyPath);
  if (!key) return S_FALSE;
  if (valueName.empty()) {
    if (!key->defaultValue) return S_FALSE;
    key->defaultValue.reset();
    return S_OK;
  }
  return key->values.erase(std::string(valueName)) ? S_OK : S_FALSE;
}

HRESULT KvRegistryTransaction::DeleteTree(std::string_view keyPath) {
  if (m_lockFd < 0) return E_UNEXPECTED;
  return m_tree.DeleteTree(keyPath) ? S_OK : S_FALSE;
}

HRESULT KvRegistryTransaction::Commit() {
  if (m_lockFd < 0) return E_UNEXPECTED;
  const std::string tempPath = m_path + ".tmp." + std::to_string(getpid());
  int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return REGDB_E_WRITEREGDB;
  const bool written = WriteAll(fd, m_tree.Serialize()) && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(tempPath.c_str(), m_path.c_str()) != 0) {
    unlink(tempPath.c_str());
    return REGDB_E_WRITEREGDB;
  }
  return S_OK;
}

namespace {
template <typename Edit>
HRESULT OneShot(Edit edit) {
  KvRegistryTransaction tx;
  HRESULT hr = tx.Begin();
  if (FAILED(hr)) return hr;
  hr = edit(tx);
  if (FAILED(hr)) return hr;
  HRESULT commit = tx.Commit();
  return FAILED(commit) ? commit : hr;
}
}  // namespace

HRESULT KvRegCreateKey(std::string_view keyPath) {
  return OneShot([&](KvRegistryTransaction& tx) { return tx.CreateKey(keyPath); });
}

HRESULT KvRegSetValue(std::string_view keyPath, std::string_view valueName, std::string_view value) {
  return OneShot([&](KvRegistryTransaction& tx) { return tx.SetValue(keyPath, valueName, value); });
}

HRESULT KvRegDeleteTree(std::string_view keyPath) {
  return OneShot([&](KvRegistryTransaction& tx) { return tx.DeleteTree(keyPath); });
}
