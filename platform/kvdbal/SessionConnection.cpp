#include "SessionConnection.h"

#include <atomic>

namespace kvdbal {
namespace {

class SessionConnection final : public IDispatch, public IKvDbSessionConnection {
 public:
  explicit SessionConnection(std::shared_ptr<EngineConnection> engine) : m_engine(std::move(engine)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
    } else if (riid == IKvDbSessionConnection::kIid) {
      *ppv = static_cast<IKvDbSessionConnection*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }

  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT GetEngine(std::shared_ptr<EngineConnection>* engine) override {
    if (!engine) return E_POINTER;
    *engine = m_engine;
    return S_OK;
  }

 private:
  ~SessionConnection() = default;
  std::atomic<ULONG> m_refs{1};
  std::shared_ptr<EngineConnection> m_engine;
};

}  // namespace

IDispatch* NewSessionConnection(std::shared_ptr<EngineConnection> engine) {
  return new SessionConnection(std::move(engine));
}

}  // namespace kvdbal

void KvDbOpenSessionConnection(const std::string& connectionString, IDispatch** ppConnection) {
  if (!ppConnection) throw CKvDbException(E_POINTER, "no place for the session connection");
  *ppConnection = nullptr;
  *ppConnection = kvdbal::NewSessionConnection(kvdbal::OpenEngine(connectionString));
}
