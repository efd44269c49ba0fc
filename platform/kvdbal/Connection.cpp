#include "KvDbal.h"
#include "SessionConnection.h"

CKvDbConnection::CKvDbConnection(IDispatch* pSessionConnection, bool bAddRef) {
  if (!pSessionConnection) throw CKvDbException(E_POINTER, "no session connection");
  // Without bAddRef the wrapper adopts the caller's reference.
  m_session = bAddRef ? ComPtr<IDispatch>(pSessionConnection) : ComPtr<IDispatch>::Attach(pSessionConnection);
  ComPtr<IKvDbSessionConnection> session;
  HRESULT hr = m_session.As(&session);
  if (FAILED(hr)) throw CKvDbException(hr, "the object is not a session connection of the access layer");
  hr = session->GetEngine(&m_engine);
  if (FAILED(hr) || !m_engine) throw CKvDbException(FAILED(hr) ? hr : E_UNEXPECTED, "the session connection has no engine");
  m_service = CKvDbService(m_engine->ServerType());
}

CKvDbConnection::~CKvDbConnection() = default;

void CKvDbConnection::BeginTrans() { m_engine->Begin(); }
void CKvDbConnection::BeginTransWriting(const std::vector<std::string>& tablesTakingIds) {
  m_engine->BeginWriting(tablesTakingIds);
}
void CKvDbConnection::CommitTrans() { m_engine->Commit(); }
void CKvDbConnection::RollbackTrans() { m_engine->Rollback(); }
void CKvDbConnection::BeginSharedSnapshot() { m_engine->BeginSharedSnapshot(); }
void CKvDbConnection::EndSharedSnapshot() noexcept { m_engine->EndSharedSnapshot(); }

CKvDbRowset* CKvDbConnection::Execute(const char* sql, long* pRecordsAffected, long /*options*/) {
  if (!sql) throw CKvDbException(E_POINTER, "no statement to execute");
  long affected = m_engine->Execute(sql);
  if (pRecordsAffected) *pRecordsAffected = affected;
  return nullptr;
}

eKvDbServerType CKvDbConnection::GetDbType() const { return m_engine->ServerType(); }
