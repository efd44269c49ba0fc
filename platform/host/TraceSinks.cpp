#include "TraceSinks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>

#include "../com/ComPtr.h"
#include "../com/ObjBase.h"
#include "../win32/ErrnoToWin32.h"
#include "HostInterfaces.h"
#include "HostObject.h"

void KvTraceStore::Append(bool heading, std::string text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lines.push_back({heading, std::move(text)});
}

std::vector<KvTraceLine> KvTraceStore::Lines() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}

void KvTraceStore::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lines.clear();
}

namespace {

// Where the lines of one registration go.
class TraceOutput {
 public:
  virtual ~TraceOutput() = default;
  virtual HRESULT Write(bool heading, const std::string& text) = 0;
};

class MemoryOutput final : public TraceOutput {
 public:
  explicit MemoryOutput(std::shared_ptr<KvTraceStore> store) : m_store(std::move(store)) {}
  HRESULT Write(bool heading, const std::string& text) override {
    m_store->Append(heading, text);
    return S_OK;
  }

 private:
  std::shared_ptr<KvTraceStore> m_store;
};

// One write() per line, so lines of concurrent writers do not mix.
HRESULT WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return HRESULT_FROM_WIN32(KvWin32ErrorFromErrno(errno));
    }
    done += static_cast<size_t>(put);
  }
  return S_OK;
}

class FileOutput final : public TraceOutput {
 public:
  explicit FileOutput(std::string path) : m_path(std::move(path)) {}
  HRESULT Write(bool, const std::string& text) override {
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return HRESULT_FROM_WIN32(KvWin32ErrorFromErrno(errno));
    const HRESULT hr = WriteAll(fd, text);
    ::close(fd);
    return hr;
  }

 private:
  std::string m_path;
};

class StderrOutput final : public TraceOutput {
 public:
  HRESULT Write(bool heading, const std::string& text) override {
    return WriteAll(STDERR_FILENO, heading ? "[" + text + "]\n" : text);
  }
};

thread_local std::string t_lastCallTrace;

// Keeps the calling thread's last line of report, then writes on. The
// "Returning:" line that closes every failed method only repeats its code,
// and the "Message: " label is the report's, not the reason's.
class CallTraceOutput final : public TraceOutput {
 public:
  explicit CallTraceOutput(std::shared_ptr<TraceOutput> next) : m_next(std::move(next)) {}
  HRESULT Write(bool heading, const std::string& text) override {
    if (!heading) Keep(text);
    return m_next ? m_next->Write(heading, text) : S_OK;
  }

 private:
  static void Keep(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      while (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line.rfind("Returning:", 0) == 0) continue;
      if (line.rfind("Message: ", 0) == 0) line.erase(0, 9);
      t_lastCallTrace = std::move(line);
    }
  }

  std::shared_ptr<TraceOutput> m_next;
};

struct SinkBehaviour {
  std::shared_ptr<TraceOutput> output;  // null for a failing sink
  std::optional<KvTraceSinkFault> fault;
  HRESULT faultResult = E_FAIL;
  std::shared_ptr<KvTraceSinkCounters> counters;

  bool FailsAt(KvTraceSinkFault step) const { return fault && *fault == step; }
};

class CTraceSink final : public KvHostObject<ITraceSink, IRunnableObject> {
 public:
  explicit CTraceSink(std::shared_ptr<const SinkBehaviour> behaviour) : m_behaviour(std::move(behaviour)) {
    ++m_behaviour->counters->created;
    ++m_behaviour->counters->alive;
  }
  ~CTraceSink() override { --m_behaviour->counters->alive; }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) return Offer(static_cast<ITraceSink*>(this), ppv);
    if (riid == ITraceSink::kIid && !m_behaviour->FailsAt(KvTraceSinkFault::NoInterface))
      return Offer(static_cast<ITraceSink*>(this), ppv);
    if (riid == IID_IRunnableObject) return Offer(static_cast<IRunnableObject*>(this), ppv);
    return E_NOINTERFACE;
  }
  KV_HOST_MINIMAL_DISPATCH

  HRESULT WriteText(BSTR text) override { return Write(false, text); }
  HRESULT WriteHeading(BSTR text) override { return Write(true, text); }

  HRESULT GetRunningClass(CLSID* lpClsid) override {
    if (!lpClsid) return E_POINTER;
    *lpClsid = CLSID_KvTraceSink;
    return S_OK;
  }
  HRESULT Run(void*) override {
    if (m_behaviour->FailsAt(KvTraceSinkFault::Run)) return m_behaviour->faultResult;
    if (!m_running) ++m_behaviour->counters->runs;
    m_running = true;
    return S_OK;
  }
  BOOL IsRunning() override { return m_running ? TRUE : FALSE; }
  HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT SetContainedObject(BOOL) override { return S_OK; }

 private:
  HRESULT Write(bool heading, BSTR text) {
    if (m_behaviour->FailsAt(KvTraceSinkFault::Write) || !m_behaviour->output) return m_behaviour->faultResult;
    try {
      return m_behaviour->output->Write(heading, Utf8FromBstr(text));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  std::shared_ptr<const SinkBehaviour> m_behaviour;
  bool m_running = false;
};

class CTraceSinkFactory final : public KvHostObject<IClassFactory> {
 public:
  explicit CTraceSinkFactory(std::shared_ptr<const SinkBehaviour> behaviour) : m_behaviour(std::move(behaviour)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) return Offer(static_cast<IClassFactory*>(this), ppv);
    return E_NOINTERFACE;
  }

  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    if (m_behaviour->FailsAt(KvTraceSinkFault::Create)) return m_behaviour->faultResult;
    CTraceSink* sink = new (std::nothrow) CTraceSink(m_behaviour);
    if (!sink) return E_OUTOFMEMORY;
    const HRESULT hr = sink->QueryInterface(riid, ppvObject);
    sink->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  std::shared_ptr<const SinkBehaviour> m_behaviour;
};

HRESULT Register(SinkBehaviour behaviour, DWORD* pCookie) {
  if (!pCookie) return E_POINTER;
  *pCookie = 0;
  try {
    if (!behaviour.counters) behaviour.counters = std::make_shared<KvTraceSinkCounters>();
    auto shared = std::make_shared<const SinkBehaviour>(std::move(behaviour));
    ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Attach(new CTraceSinkFactory(shared));
    return CoRegisterClassObject(CLSID_KvTraceSink, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 pCookie);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT KvRegisterMemoryTraceSink(std::shared_ptr<KvTraceStore> store, DWORD* pCookie,
                                  std::shared_ptr<KvTraceSinkCounters> counters) {
  if (!store) return E_INVALIDARG;
  return Register({std::make_shared<MemoryOutput>(std::move(store)), std::nullopt, S_OK, std::move(counters)},
                  pCookie);
}

HRESULT KvRegisterFileTraceSink(const std::string& path, DWORD* pCookie,
                                std::shared_ptr<KvTraceSinkCounters> counters) {
  if (path.empty()) return E_INVALIDARG;
  return Register({std::make_shared<FileOutput>(path), std::nullopt, S_OK, std::move(counters)}, pCookie);
}

HRESULT KvRegisterStderrTraceSink(DWORD* pCookie, std::shared_ptr<KvTraceSinkCounters> counters) {
  return Register({std::make_shared<StderrOutput>(), std::nullopt, S_OK, std::move(counters)}, pCookie);
}

HRESULT KvRegisterFailingTraceSink(KvTraceSinkFault fault, HRESULT hr, DWORD* pCookie,
                                   std::shared_ptr<KvTraceSinkCounters> counters) {
  if (SUCCEEDED(hr)) return E_INVALIDARG;
  return Register({nullptr, fault, hr, std::move(counters)}, pCookie);
}

HRESULT KvRevokeTraceSink(DWORD cookie) { return CoRevokeClassObject(cookie); }

HRESULT KvRegisterCallTraceSink(const std::string& alsoTo, DWORD* pCookie) {
  std::shared_ptr<TraceOutput> next;
  if (alsoTo == "-")
    next = std::make_shared<StderrOutput>();
  else if (!alsoTo.empty())
    next = std::make_shared<FileOutput>(alsoTo);
  return Register({std::make_shared<CallTraceOutput>(std::move(next)), std::nullopt, S_OK, nullptr}, pCookie);
}

void KvResetCallTrace() { t_lastCallTrace.clear(); }

std::string KvLastCallTraceText() { return t_lastCallTrace; }
