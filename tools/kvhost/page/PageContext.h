// What the page objects work on: the request a page answers, the response
// it builds, its session and the application's shared values. The command
// line runner fills the request with nothing and streams the response body
// to standard output; the web server buffers it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"

using NameValues = std::vector<std::pair<std::string, std::string>>;

// Values kept across pages under case-insensitive names (Session(name),
// Application(name)). Each get and put is atomic on its own.
class ValueStore {
 public:
  virtual bool Get(const std::string& name, VARIANT* out) const = 0;
  virtual void Put(const std::string& name, const VARIANT& value) = 0;

 protected:
  ~ValueStore() = default;
};

// The names as they are kept: folded to lower case.
using KeptValues = std::map<std::string, CComVariant>;
std::string FoldValueName(const std::string& name);

class PageValueStore final : public ValueStore {
 public:
  bool Get(const std::string& name, VARIANT* out) const override;
  void Put(const std::string& name, const VARIANT& value) override;
  void Clear();
  // Copies out or replaces every value at once (a store outside the
  // process reads and writes a session whole).
  KeptValues Snapshot() const;
  void Replace(KeptValues values);

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, CComVariant> m_values;
};

struct PageRequest {
  using Variables = std::map<std::string, std::string>;

  NameValues queryString;
  NameValues form;
  std::map<std::string, std::string> cookies;
  // REQUEST_METHOD, QUERY_STRING, SCRIPT_NAME, ..., HTTP_* by upper-case
  // name: made by makeServerVariables when a page first asks, since most
  // pages never do.
  const Variables& ServerVariables() const {
    if (!m_serverVariables) m_serverVariables = makeServerVariables ? makeServerVariables() : Variables();
    return *m_serverVariables;
  }
  std::function<Variables()> makeServerVariables;

 private:
  mutable std::optional<Variables> m_serverVariables;
};

class PageResponse {
 public:
  // stream: where the body goes as it is written; null buffers it in body.
  explicit PageResponse(std::FILE* stream = nullptr) : m_stream(stream) {}
  void Write(std::string_view text);

  std::string body;
  int status = 200;
  std::string contentType = "text/html";
  NameValues headers;
  NameValues cookies;  // name, value as set by Response.Cookies(name, value)

 private:
  std::FILE* m_stream;
};

// A session as a page sees it: its values, id and timeout, and the host
// session object the component's Init takes.
struct PageSession {
  std::string id;
  PageValueStore values;
  ComPtr<IDispatch> host;
  // Read by the server's expiry sweep while a page may change them.
  std::atomic<int> timeoutMinutes{20};
  std::atomic<bool> abandoned{false};
  // Forms of this session carry it back (field kvtoken, or the header
  // X-KV-Token); an unsafe request without it is refused before any page
  // runs. Made with the session from kernel randomness.
  std::string antiForgeryToken;
  // Set once a page keeps something in the session (a value, a signed-in
  // user, its token handed out): a session nothing was kept in is not
  // stored, so requests without a cookie leave nothing behind.
  std::atomic<bool> kept{false};
  // The signed-in user, 0 while nobody is signed in.
  std::atomic<long> userId{0};
  // Set when a user signs in: the server then gives the session a new id,
  // so an id somebody planted or saw before the sign-in is worth nothing.
  std::atomic<bool> renewId{false};
};

// A lock held by a page: unlock(), or the holder going with its page,
// lets it go. Shaped like std::unique_lock so that whatever keeps the lock
// (a mutex of this process, a row in a shared database) looks the same.
class HeldLock {
 public:
  HeldLock() = default;
  explicit HeldLock(std::function<void()> release) : m_release(std::move(release)) {}
  HeldLock(HeldLock&& other) noexcept : m_release(std::exchange(other.m_release, nullptr)) {}
  HeldLock& operator=(HeldLock&& other) noexcept {
    if (this != &other) {
      unlock();
      m_release = std::exchange(other.m_release, nullptr);
    }
    return *this;
  }
  ~HeldLock() { unlock(); }
  bool owns_lock() const { return static_cast<bool>(m_release); }
  void unlock() {
    if (auto release = std::exchange(m_release, nullptr)) release();
  }

 private:
  std::function<void()> m_release;
};

// The application's values, and the lock pages take with Application.Lock.
class PageApplication {
 public:
  virtual ~PageApplication() = default;
  virtual ValueStore& Values() = 0;
  // Waits for the application's lock until deadline; a holder that owns
  // nothing when the wait ran out.
  virtual HeldLock Lock(std::chrono::steady_clock::time_point deadline) = 0;
};

// The application of one process.
class MemoryApplication final : public PageApplication {
 public:
  ValueStore& Values() override { return m_values; }
  HeldLock Lock(std::chrono::steady_clock::time_point deadline) override;

 private:
  PageValueStore m_values;
  std::timed_mutex m_lock;
};

struct PageContext {
  PageRequest request;
  PageResponse response;
  PageSession* session = nullptr;
  PageApplication* application = nullptr;
  // Directory that Server.MapPath resolves "/" to, and the page's own
  // virtual path for relative ones.
  std::string rootDirectory;
  std::string scriptName = "/";
  // A page still running at this time is stopped.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  // Held while the page has called Application.Lock and not Unlock.
  HeldLock applicationLock;
};
