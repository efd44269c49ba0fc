#include "Session.h"

ComPtr<IHostSession> QueryHostSession(IDispatch* pDispatch) {
  ComPtr<IHostSession> session;
  if (!pDispatch) return session;
  const HRESULT hr = pDispatch->QueryInterface(IHostSession::kIid, session.ReleaseAndGetVoidAddress());
  if (hr == E_NOINTERFACE) return ComPtr<IHostSession>();
  if (FAILED(hr)) ThrowComFailure(hr, pDispatch, IHostSession::kIid);
  return session;
}

static void RequireSession(IHostSession* pSession) {
  if (!pSession) throw _com_error(E_POINTER);
}

std::unique_ptr<CKvDbConnection> OpenSessionConnection(IHostSession* pSession) {
  RequireSession(pSession);
  ComPtr<IDispatch> connection;
  const HRESULT hr = pSession->get_Connection(connection.ReleaseAndGetAddressOf());
  if (FAILED(hr)) ThrowComFailure(hr, pSession, IHostSession::kIid);
  if (!connection) throw _com_error(E_POINTER);
  return std::make_unique<CKvDbConnection>(connection.Get(), true);
}

bool SessionIsValid(IHostSession* pSession) {
  RequireSession(pSession);
  VARIANT_BOOL valid = VARIANT_FALSE;
  const HRESULT hr = pSession->get_Valid(&valid);
  if (FAILED(hr)) ThrowComFailure(hr, pSession, IHostSession::kIid);
  return valid != VARIANT_FALSE;
}

LONG SessionUserId(IHostSession* pSession) {
  RequireSession(pSession);
  ComPtr<IDispatch> userDispatch;
  HRESULT hr = pSession->get_User(userDispatch.ReleaseAndGetAddressOf());
  if (FAILED(hr)) ThrowComFailure(hr, pSession, IHostSession::kIid);
  if (!userDispatch) throw _com_error(E_POINTER);
  ComPtr<IHostUser> user;
  if (FAILED(userDispatch.As(&user)) || !user) throw _com_error(E_POINTER);
  LONG id = 0;
  hr = user->get_Id(&id);
  if (FAILED(hr)) ThrowComFailure(hr, user.Get(), IHostUser::kIid);
  return id;
}

std::string SessionBasePath(IHostSession* pSession) {
  RequireSession(pSession);
  ComPtr<IHostApplication> application;
  HRESULT hr = pSession->get_Application(application.ReleaseAndGetAddressOf());
  if (FAILED(hr)) ThrowComFailure(hr, pSession, IHostSession::kIid);
  if (!application) throw _com_error(E_POINTER);
  CComBSTR path;
  hr = application->get_BasePath(&path);
  if (FAILED(hr)) ThrowComFailure(hr, application.Get(), IHostApplication::kIid);
  return path.ToUtf8();
}
