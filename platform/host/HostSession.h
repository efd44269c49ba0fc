// The host session stand-in: the object a host passes to the component as
// its session. It offers the connection, the validity flag, the user and the
// application through IHostSession, and can be told to fail chosen calls so
// that the component's failure paths can be exercised.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "../com/Unknwn.h"
#include "HostInterfaces.h"

// The calls of the session and of its user and application objects.
enum class KvHostCall {
  QueryHostSession,  // QueryInterface for IHostSession
  Connection,
  Valid,
  User,
  Application,
  UserId,    // IHostUser::get_Id
  BasePath,  // IHostApplication::get_BasePath
};

// Makes one call fail with hr. With a description, the failing object also
// sets error information (and offers it through ISupportErrorInfo), so the
// caller's _com_error carries that description; without one, none is set.
struct KvHostFailure {
  KvHostCall call;
  HRESULT hr;
  std::string description;
};

// What the session's User property hands out.
enum class KvHostUserKind {
  HostUser,       // an object offering IHostUser
  PlainDispatch,  // an IDispatch without IHostUser
  None,           // S_OK with a null pointer
};

struct KvHostSessionConfig {
  // Opened with KvDbOpenSessionConnection on the first Connection read and
  // kept for the life of the session; empty: Connection hands out null.
  std::string connectionString;
  LONG userId = 1;
  std::string basePath;
  bool valid = true;
  KvHostUserKind user = KvHostUserKind::HostUser;
  bool application = true;  // false: Application hands out null
  std::vector<KvHostFailure> failures;
};

HRESULT KvCreateHostSession(const KvHostSessionConfig& config, IDispatch** ppSession);

// Changes the configuration of a live session (the connection string only
// counts while the connection has not been opened yet). E_INVALIDARG when
// pSession is not a session of KvCreateHostSession.
HRESULT KvConfigureHostSession(IDispatch* pSession, const std::function<void(KvHostSessionConfig&)>& edit);

// Hands the session a connection opened elsewhere (a host's pool lends one
// for the length of a request); null takes it back. The session then opens
// none of its own. E_INVALIDARG when pSession is not such a session.
HRESULT KvSetHostSessionConnection(IDispatch* pSession, IDispatch* pConnection);

// How often a call was made on the session or its user or application
// objects, failed calls included; -1 when pSession is not such a session.
long KvHostSessionCallCount(IDispatch* pSession, KvHostCall call);

// An object offering IDispatch (and IUnknown) only, not IHostSession.
HRESULT KvCreatePlainDispatch(IDispatch** ppObject);
