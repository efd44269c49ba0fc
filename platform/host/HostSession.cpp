#include "HostSession.h"

#include <array>
#include <memory>
#include <mutex>
#include <new>

#include "../com/ComError.h"
#include "../kvdbal/KvDbal.h"
#include "HostObject.h"

namespace {

// Lets the configuration functions find the session behind an IDispatch.
constexpr IID kIidSessionSelf = {0x6B1E0AF1, 0x3C2D, 0x4E5F, {0x90, 0x11, 0x4B, 0x76, 0x48, 0x6F, 0x73, 0xF1}};

constexpr size_t kCallKinds = static_cast<size_t>(KvHostCall::BasePath) + 1;

// Shared by the session and the user and application objects it hands out,
// so that those see later configuration changes and count their calls.
struct SessionState {
  std::mutex mutex;
  KvHostSessionConfig config;
  std::array<long, kCallKinds> calls{};
  ComPtr<IDispatch> connection;

  // Counts the call; a configured failure sets (or clears) the thread's
  // error information and gives the code to return, else S_OK.
  HRESULT Enter(KvHostCall call) {
    std::string description;
    HRESULT hr = S_OK;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++calls[static_cast<size_t>(call)];
      for (const KvHostFailure& f : config.failures) {
        if (f.call == call) {
          hr = f.hr;
          description = f.description;
          break;
        }
      }
    }
    if (SUCCEEDED(hr)) return S_OK;
    return Raise(hr, description);
  }

  static HRESULT Raise(HRESULT hr, const std::string& description) {
    ComPtr<IErrorInfo> info;
    if (!description.empty()) CreateSimpleErrorInfo(description, "KvHostSession", info.ReleaseAndGetAddressOf());
    SetErrorInfo(0, info.Get());
    return hr;
  }
};

class CPlainDispatch final : public KvHostObject<IDispatch> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) return Offer(static_cast<IDispatch*>(this), ppv);
    return E_NOINTERFACE;
  }
  KV_HOST_MINIMAL_DISPATCH
};

class CHostUser final : public KvHostObject<IHostUser, ISupportErrorInfo> {
 public:
  explicit CHostUser(std::shared_ptr<SessionState> state) : m_state(std::move(state)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IHostUser::kIid)
      return Offer(static_cast<IHostUser*>(this), ppv);
    if (riid == IID_ISupportErrorInfo) return Offer(static_cast<ISupportErrorInfo*>(this), ppv);
    return E_NOINTERFACE;
  }
  KV_HOST_MINIMAL_DISPATCH

  HRESULT get_Id(LONG* pVal) override {
    if (HRESULT hr = m_state->Enter(KvHostCall::UserId); FAILED(hr)) return hr;
    if (!pVal) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    *pVal = m_state->config.userId;
    return S_OK;
  }

  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IHostUser::kIid ? S_OK : S_FALSE;
  }

 private:
  std::shared_ptr<SessionState> m_state;
};

#define KV_NOT_IMPLEMENTED_SLOT(n) \
  HRESULT Reserved##n() override { return E_NOTIMPL; }

class CHostApplication final : public KvHostObject<IHostApplication, ISupportErrorInfo> {
 public:
  explicit CHostApplication(std::shared_ptr<SessionState> state) : m_state(std::move(state)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IHostApplication::kIid)
      return Offer(static_cast<IHostApplication*>(this), ppv);
    if (riid == IID_ISupportErrorInfo) return Offer(static_cast<ISupportErrorInfo*>(this), ppv);
    return E_NOINTERFACE;
  }
  KV_HOST_MINIMAL_DISPATCH

  KV_NOT_IMPLEMENTED_SLOT(1) KV_NOT_IMPLEMENTED_SLOT(2) KV_NOT_IMPLEMENTED_SLOT(3)
  KV_NOT_IMPLEMENTED_SLOT(4) KV_NOT_IMPLEMENTED_SLOT(5) KV_NOT_IMPLEMENTED_SLOT(6)
  KV_NOT_IMPLEMENTED_SLOT(7) KV_NOT_IMPLEMENTED_SLOT(8) KV_NOT_IMPLEMENTED_SLOT(9)
  KV_NOT_IMPLEMENTED_SLOT(10) KV_NOT_IMPLEMENTED_SLOT(11) KV_NOT_IMPLEMENTED_SLOT(12)
  KV_NOT_IMPLEMENTED_SLOT(13) KV_NOT_IMPLEMENTED_SLOT(14) KV_NOT_IMPLEMENTED_SLOT(15)
  KV_NOT_IMPLEMENTED_SLOT(16) KV_NOT_IMPLEMENTED_SLOT(17) KV_NOT_IMPLEMENTED_SLOT(18)
  KV_NOT_IMPLEMENTED_SLOT(19) KV_NOT_IMPLEMENTED_SLOT(20) KV_NOT_IMPLEMENTED_SLOT(21)
  KV_NOT_IMPLEMENTED_SLOT(22) KV_NOT_IMPLEMENTED_SLOT(23) KV_NOT_IMPLEMENTED_SLOT(24)
  KV_NOT_IMPLEMENTED_SLOT(25) KV_NOT_IMPLEMENTED_SLOT(26) KV_NOT_IMPLEMENTED_SLOT(27)
  KV_NOT_IMPLEMENTED_SLOT(28) KV_NOT_IMPLEMENTED_SLOT(29) KV_NOT_IMPLEMENTED_SLOT(30)
  KV_NOT_IMPLEMENTED_SLOT(31) KV_NOT_IMPLEMENTED_SLOT(32) KV_NOT_IMPLEMENTED_SLOT(33)
  KV_NOT_IMPLEMENTED_SLOT(34) KV_NOT_IMPLEMENTED_SLOT(35) KV_NOT_IMPLEMENTED_SLOT(36)
  KV_NOT_IMPLEMENTED_SLOT(37) KV_NOT_IMPLEMENTED_SLOT(38) KV_NOT_IMPLEMENTED_SLOT(39)
  KV_NOT_IMPLEMENTED_SLOT(40) KV_NOT_IMPLEMENTED_SLOT(41) KV_NOT_IMPLEMENTED_SLOT(42)
  KV_NOT_IMPLEMENTED_SLOT(43) KV_NOT_IMPLEMENTED_SLOT(44) KV_NOT_IMPLEMENTED_SLOT(45)
  KV_NOT_IMPLEMENTED_SLOT(46) KV_NOT_IMPLEMENTED_SLOT(47) KV_NOT_IMPLEMENTED_SLOT(48)
  KV_NOT_IMPLEMENTED_SLOT(49) KV_NOT_IMPLEMENTED_SLOT(50) KV_NOT_IMPLEMENTED_SLOT(51)

  HRESULT get_BasePath(BSTR* pVal) override {
    if (HRESULT hr = m_state->Enter(KvHostCall::BasePath); FAILED(hr)) return hr;
    if (!pVal) return E_POINTER;
    std::string path;
    {
      std::lock_guard<std::mutex> lock(m_state->mutex);
      path = m_state->config.basePath;
    }
    *pVal = BstrFromUtf8(path);
    return *pVal || path.empty() ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IHostApplication::kIid ? S_OK : S_FALSE;
  }

 private:
  std::shared_ptr<SessionState> m_state;
};

class CHostSession final : public KvHostObject<IHostSession, ISupportErrorInfo> {
 public:
  explicit CHostSession(const KvHostSessionConfig& config) : m_state(std::make_shared<SessionState>()) {
    m_state->config = config;
  }

  std::shared_ptr<SessionState> State() const { return m_state; }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) return Offer(static_cast<IHostSession*>(this), ppv);
    if (riid == IHostSession::kIid) {
      if (HRESULT hr = m_state->Enter(KvHostCall::QueryHostSession); FAILED(hr)) return hr;
      return Offer(static_cast<IHostSession*>(this), ppv);
    }
    if (riid == IID_ISupportErrorInfo) return Offer(static_cast<ISupportErrorInfo*>(this), ppv);
    if (riid == kIidSessionSelf) return Offer(this, ppv);
    return E_NOINTERFACE;
  }
  KV_HOST_MINIMAL_DISPATCH

  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Reserved6() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }
  HRESULT Reserved11() override { return E_NOTIMPL; }
  HRESULT Reserved12() override { return E_NOTIMPL; }

  HRESULT get_Connection(IDispatch** pVal) override {
    if (HRESULT hr = m_state->Enter(KvHostCall::Connection); FAILED(hr)) return hr;
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->connection && !m_state->config.connectionString.empty()) {
      try {
        IDispatch* opened = nullptr;
        KvDbOpenSessionConnection(m_state->config.connectionString, &opened);
        m_state->connection = ComPtr<IDispatch>::Attach(opened);
      } catch (const CKvDbException& e) {
        return SessionState::Raise(e.GetResult(), e.Message());
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      }
    }
    if (m_state->connection) {
      m_state->connection->AddRef();
      *pVal = m_state->connection.Get();
    }
    return S_OK;
  }

  HRESULT get_Valid(VARIANT_BOOL* pVal) override {
    if (HRESULT hr = m_state->Enter(KvHostCall::Valid); FAILED(hr)) return hr;
    if (!pVal) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    *pVal = m_state->config.valid ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT get_User(IDispatch** pVal) override {
    if (HRESULT hr = m_state->Enter(KvHostCall::User); FAILED(hr)) return hr;
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    KvHostUserKind kind;
    {
      std::lock_guard<std::mutex> lock(m_state->mutex);
      kind = m_state->config.user;
    }
    if (kind == KvHostUserKind::HostUser) *pVal = new (std::nothrow) CHostUser(m_state);
    if (kind == KvHostUserKind::PlainDispatch) *pVal = new (std::nothrow) CPlainDispatch();
    return kind != KvHostUserKind::None && !*pVal ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT get_Application(IHostApplication** pVal) override {
    if (HRESULT hr = m_state->Enter(KvHostCall::Application); FAILED(hr)) return hr;
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    bool offered;
    {
      std::lock_guard<std::mutex> lock(m_state->mutex);
      offered = m_state->config.application;
    }
    if (!offered) return S_OK;
    *pVal = new (std::nothrow) CHostApplication(m_state);
    return *pVal ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IHostSession::kIid ? S_OK : S_FALSE;
  }

 private:
  std::shared_ptr<SessionState> m_state;
};

std::shared_ptr<SessionState> StateOf(IDispatch* pSession) {
  if (!pSession) return nullptr;
  CHostSession* session = nullptr;
  if (FAILED(pSession->QueryInterface(kIidSessionSelf, reinterpret_cast<void**>(&session))) || !session)
    return nullptr;
  std::shared_ptr<SessionState> state = session->State();
  session->Release();
  return state;
}

}  // namespace

HRESULT KvCreateHostSession(const KvHostSessionConfig& config, IDispatch** ppSession) {
  if (!ppSession) return E_POINTER;
  *ppSession = nullptr;
  try {
    *ppSession = new CHostSession(config);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT KvConfigureHostSession(IDispatch* pSession, const std::function<void(KvHostSessionConfig&)>& edit) {
  std::shared_ptr<SessionState> state = StateOf(pSession);
  if (!state) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(state->mutex);
  edit(state->config);
  return S_OK;
}

HRESULT KvSetHostSessionConnection(IDispatch* pSession, IDispatch* pConnection) {
  std::shared_ptr<SessionState> state = StateOf(pSession);
  if (!state) return E_INVALIDARG;
  ComPtr<IDispatch> previous;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    previous = std::move(state->connection);
    state->connection = ComPtr<IDispatch>(pConnection);
  }
  return S_OK;
}

long KvHostSessionCallCount(IDispatch* pSession, KvHostCall call) {
  std::shared_ptr<SessionState> state = StateOf(pSession);
  if (!state) return -1;
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->calls[static_cast<size_t>(call)];
}

HRESULT KvCreatePlainDispatch(IDispatch** ppObject) {
  if (!ppObject) return E_POINTER;
  *ppObject = new (std::nothrow) CPlainDispatch();
  return *ppObject ? S_OK : E_OUTOFMEMORY;
}
