#include "state/ConnectionPool.h"

#include "platform/host/HostSession.h"
#include "platform/kvdbal/KvDbal.h"

ComPtr<IDispatch> ConnectionPool::Acquire() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_idle.empty()) {
      ComPtr<IDispatch> connection = std::move(m_idle.back());
      m_idle.pop_back();
      return connection;
    }
  }
  IDispatch* opened = nullptr;
  KvDbOpenSessionConnection(m_connectionString, &opened);
  return ComPtr<IDispatch>::Attach(opened);
}

void ConnectionPool::Release(ComPtr<IDispatch> connection) {
  if (!connection) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_idle.push_back(std::move(connection));
}

ConnectionLease::ConnectionLease(ConnectionPool& pool, IDispatch* hostSession)
    : m_pool(pool), m_hostSession(hostSession), m_connection(pool.Acquire()) {
  m_reading = std::make_unique<CKvDbConnection>(m_connection.Get(), true);
  m_reading->BeginSharedSnapshot();
  KvSetHostSessionConnection(m_hostSession, m_connection.Get());
}

ConnectionLease::~ConnectionLease() {
  KvSetHostSessionConnection(m_hostSession, nullptr);
  m_reading->EndSharedSnapshot();
  m_reading.reset();
  m_pool.Release(std::move(m_connection));
}
