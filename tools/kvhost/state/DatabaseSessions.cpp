#include "state/DatabaseSessions.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/host/HostSession.h"
#include "platform/kvdbal/KvDbal.h"
#include "state/VariantCodec.h"

namespace {

constexpr int kDefaultTimeoutMinutes = 20;

// Ids are what this server hands out: 32 lower-case hex digits. Anything
// else names no session and never reaches a statement.
bool IsSessionId(const std::string& id) {
  if (id.size() != 32) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

void SetUser(PageSession& page, long userId) {
  if (page.host)
    KvConfigureHostSession(page.host.Get(), [userId](KvHostSessionConfig& c) { c.userId = static_cast<LONG>(userId); });
  page.userId = userId;
}

long HostUser(const PageSession& page) {
  LONG id = 0;
  if (page.host) KvConfigureHostSession(page.host.Get(), [&id](KvHostSessionConfig& c) { id = c.userId; });
  return id;
}

// The user, token, timeout and values of a session as one stored text.
std::string FormOf(const PageSession& page) {
  std::string bytes;
  EncodeNumber(HostUser(page), &bytes);
  EncodeText(page.antiForgeryToken, &bytes);
  EncodeNumber(page.timeoutMinutes.load(), &bytes);
  const KeptValues values = page.values.Snapshot();
  EncodeNumber(static_cast<int64_t>(values.size()), &bytes);
  for (const auto& [name, value] : values) {
    EncodeText(name, &bytes);
    // Only what a page could keep ever got in (objects are refused).
    if (!EncodeVariant(value, &bytes)) EncodeVariant(CComVariant(), &bytes);
  }
  return HexOf(bytes);
}

bool ReadForm(const std::string& form, PageSession& page) {
  std::string bytes;
  if (!BytesOfHex(form, &bytes)) return false;
  std::string_view in = bytes;
  int64_t user = 0, timeout = 0, count = 0;
  std::string token;
  if (!DecodeNumber(&in, &user) || !DecodeText(&in, &token) || !DecodeNumber(&in, &timeout) ||
      !DecodeNumber(&in, &count) || count < 0)
    return false;
  KeptValues values;
  for (int64_t i = 0; i < count; ++i) {
    std::string name;
    CComVariant value;
    if (!DecodeText(&in, &name) || !DecodeVariant(&in, &value)) return false;
    values.emplace(std::move(name), std::move(value));
  }
  page.values.Replace(std::move(values));
  page.antiForgeryToken = std::move(token);
  page.timeoutMinutes = static_cast<int>(timeout);
  SetUser(page, static_cast<long>(user));
  return true;
}

int64_t TimeoutMs(const PageSession& page) { return int64_t{page.timeoutMinutes.load()} * 60 * 1000; }

}  // namespace

DatabaseSessions::DatabaseSessions(StateDatabase& database, std::function<ComPtr<IDispatch>()> makeHost,
                                   long developmentUser, size_t limit, std::chrono::steady_clock::duration sweepEvery)
    : m_database(database), m_makeHost(std::move(makeHost)), m_developmentUser(developmentUser), m_limit(limit),
      m_sweeper(sweepEvery, [this] { Sweep(); }) {}

void DatabaseSessions::Sweep() {
  const std::string now = std::to_string(StateDatabase::NowMs());
  try {
    m_database.Execute("DELETE FROM kvhost_sessions WHERE expires_ms < " + now);
    m_database.Execute("DELETE FROM kvhost_locks WHERE until_ms < " + now);
  } catch (const CKvDbException& e) {
    std::fprintf(stderr, "kvhost: expired sessions could not be deleted: %s\n", e.Message().c_str());
  }
}

void DatabaseSessions::Remember(const std::shared_ptr<WebSession>& session) {
  // Called with m_mutex held.
  if (m_live.size() >= m_pruneAt) {
    for (auto it = m_live.begin(); it != m_live.end();) it = it->second.expired() ? m_live.erase(it) : std::next(it);
    m_pruneAt = std::max<size_t>(1024, m_live.size() * 2);
  }
  m_live[session->page.id] = session;
}

std::shared_ptr<WebSession> DatabaseSessions::Open(const std::string& id) {
  if (!IsSessionId(id)) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (auto it = m_live.find(id); it != m_live.end())
    if (auto session = it->second.lock(); session && session->page.id == id) return session;
  // Whether the database still keeps it is for Begin to find out, once
  // the request's turn has come, not while other requests wait behind it.
  auto session = std::make_shared<WebSession>();
  session->page.id = id;
  session->page.host = m_makeHost();
  Remember(session);
  return session;
}

std::shared_ptr<WebSession> DatabaseSessions::Make() {
  auto session = std::make_shared<WebSession>();
  session->page.host = m_makeHost();
  StartOver(*session);
  std::lock_guard<std::mutex> lock(m_mutex);
  Remember(session);
  return session;
}

void DatabaseSessions::StartOver(WebSession& session) {
  PageSession& page = session.page;
  SessionKeys keys = NewSessionKeys();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    page.id = std::move(keys.id);
  }
  page.antiForgeryToken = std::move(keys.antiForgeryToken);
  page.values.Clear();
  page.timeoutMinutes = kDefaultTimeoutMinutes;
  page.abandoned = false;
  page.kept = false;
  page.renewId = false;
  SetUser(page, m_developmentUser);
  session.storedForm.clear();
  session.storedExpiryMs = 0;
}

bool DatabaseSessions::HasRoom() {
  // Rows past their expiry wait for the sweep but are no session any more.
  auto row = m_database.QueryRow("SELECT COUNT(*) FROM kvhost_sessions WHERE expires_ms > " +
                                 std::to_string(StateDatabase::NowMs()));
  const long long kept = row && !row->empty() ? std::atoll((*row)[0].c_str()) : 0;
  return kept >= 0 && static_cast<unsigned long long>(kept) < m_limit;
}

void DatabaseSessions::Rekey(const std::shared_ptr<WebSession>& session, const std::string& id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_live.erase(session->page.id);
  session->page.id = id;
  m_live[id] = session;
}

SessionStart DatabaseSessions::Begin(WebSession& session, bool made, bool* fresh,
                                     std::chrono::steady_clock::time_point deadline) {
  PageSession& page = session.page;
  // A session made for this request has an id nobody else knows yet. The
  // rows are counted here, once the page's turn has come, not when the
  // request was read; only a request that starts a session pays for it.
  *fresh = made;
  if (made) return HasRoom() ? SessionStart::Ready : SessionStart::Full;
  // Held here until the session is read, so that a failed read lets the
  // lock go with it.
  HeldLock turn = m_database.Lock("session:" + page.id, deadline);
  if (!turn.owns_lock()) return SessionStart::Busy;
  auto row = m_database.QueryRow("SELECT kept, expires_ms FROM kvhost_sessions WHERE id = " +
                                 StateDatabase::Quoted(page.id) +
                                 " AND expires_ms > " + std::to_string(StateDatabase::NowMs()));
  if (row && row->size() == 2 && ReadForm((*row)[0], page)) {
    session.storedForm = (*row)[0];
    session.storedExpiryMs = std::atoll((*row)[1].c_str());
    page.abandoned = false;
    page.renewId = false;
    page.kept = true;
    session.storeLock = std::move(turn);
    return SessionStart::Ready;
  }
  // Expired, abandoned or never kept: the visitor starts over under an id
  // of its own, not the one they brought.
  turn.unlock();
  StartOver(session);
  *fresh = true;
  return HasRoom() ? SessionStart::Ready : SessionStart::Full;
}

std::string DatabaseSessions::End(const std::shared_ptr<WebSession>& session, bool fresh, bool ran) {
  // The turn ends once what changed is written.
  HeldLock turn = std::move(session->storeLock);
  PageSession& page = session->page;
  const bool renew = page.renewId.exchange(false);
  if (fresh && !ran) return "";
  const std::string id = StateDatabase::Quoted(page.id);
  if (page.abandoned) {
    if (!fresh) m_database.Execute("DELETE FROM kvhost_sessions WHERE id = " + id);
    return "";
  }
  if (fresh && !page.kept) return "";
  const int64_t now = StateDatabase::NowMs();
  const std::string form = FormOf(page);
  const std::string expires = std::to_string(now + TimeoutMs(page));
  if (fresh || renew) {
    const std::string newId = fresh ? page.id : NewSessionId();
    // The id is new and random: a row already there is this insert's own,
    // run a second time.
    m_database.Execute("INSERT INTO kvhost_sessions (id, expires_ms, kept) VALUES (" + StateDatabase::Quoted(newId) +
                       ", " + expires + ", " + StateDatabase::Quoted(form) +
                       ") ON CONFLICT (id) DO UPDATE SET expires_ms = excluded.expires_ms, kept = excluded.kept");
    if (renew && !fresh) {
      m_database.Execute("DELETE FROM kvhost_sessions WHERE id = " + id);
      Rekey(session, newId);
    }
    session->storedForm = form;
    session->storedExpiryMs = now + TimeoutMs(page);
    return newId;
  }
  // Moving the expiry on at every request would write every request; a
  // tenth of the timeout late is soon enough.
  const bool expiryDue = session->storedExpiryMs - now < TimeoutMs(page) - TimeoutMs(page) / 10;
  if (form != session->storedForm || expiryDue) {
    m_database.Execute("UPDATE kvhost_sessions SET kept = " + StateDatabase::Quoted(form) + ", expires_ms = " +
                       expires + " WHERE id = " + id);
    session->storedForm = form;
    session->storedExpiryMs = now + TimeoutMs(page);
  }
  return "";
}
