#include <gtest/gtest.h>

#include <functional>

#include "platform/com/ComError.h"
#include "platform/host/HostSession.h"
#include "tests/fixture/TestDatabase.h"

namespace {

ComPtr<IDispatch> NewSession(const KvHostSessionConfig& config) {
  IDispatch* raw = nullptr;
  EXPECT_EQ(KvCreateHostSession(config, &raw), S_OK);
  return ComPtr<IDispatch>::Attach(raw);
}

ComPtr<IHostSession> AsSession(const ComPtr<IDispatch>& d) {
  ComPtr<IHostSession> s;
  EXPECT_EQ(d.As(&s), S_OK);
  return s;
}

// The description of the thread's error information, "<none>" without one.
std::string TakeErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK || !info) return "<none>";
  CComBSTR description;
  info->GetDescription(&description);
  return description.ToUtf8();
}

}  // namespace

TEST(HostSession, OffersConnectionValidityUserAndApplication) {
  auto db = TestDatabase::Create();
  ComPtr<IDispatch> dispatch = db->NewSession(7, false, "/srv/app/");
  ComPtr<IHostSession> session = AsSession(dispatch);

  ComPtr<IDispatch> first, second;
  ASSERT_EQ(session->get_Connection(first.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(session->get_Connection(second.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(first.Get(), second.Get()) << "one session connection, handed out again";
  {
    CKvDbConnection connection(first.Get(), true);
    CKvDbRowset rowset;
    rowset.Open("SELECT COUNT(*) FROM krappform", &connection, -1, -1, 0);
    EXPECT_EQ(rowset.GetField(0)->GetLongValue(), 4);
  }

  VARIANT_BOOL valid = VARIANT_TRUE;
  EXPECT_EQ(session->get_Valid(&valid), S_OK);
  EXPECT_EQ(valid, VARIANT_FALSE);
  KvConfigureHostSession(dispatch.Get(), [](KvHostSessionConfig& c) { c.valid = true; });
  EXPECT_EQ(session->get_Valid(&valid), S_OK);
  EXPECT_EQ(valid, VARIANT_TRUE);

  ComPtr<IDispatch> userDispatch;
  ComPtr<IHostUser> user;
  ASSERT_EQ(session->get_User(userDispatch.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(userDispatch.As(&user), S_OK);
  LONG id = 0;
  EXPECT_EQ(user->get_Id(&id), S_OK);
  EXPECT_EQ(id, 7);

  ComPtr<IHostApplication> application;
  ASSERT_EQ(session->get_Application(application.ReleaseAndGetAddressOf()), S_OK);
  CComBSTR path;
  EXPECT_EQ(application->get_BasePath(&path), S_OK);
  EXPECT_EQ(path.ToUtf8(), "/srv/app/");

  EXPECT_EQ(session->Reserved1(), E_NOTIMPL);
  EXPECT_EQ(session->Reserved12(), E_NOTIMPL);
  EXPECT_EQ(application->Reserved1(), E_NOTIMPL);
  EXPECT_EQ(application->Reserved51(), E_NOTIMPL);

  EXPECT_EQ(KvHostSessionCallCount(dispatch.Get(), KvHostCall::Connection), 2);
  EXPECT_EQ(KvHostSessionCallCount(dispatch.Get(), KvHostCall::Valid), 2);
  EXPECT_EQ(KvHostSessionCallCount(dispatch.Get(), KvHostCall::UserId), 1);
  EXPECT_EQ(KvHostSessionCallCount(dispatch.Get(), KvHostCall::BasePath), 1);
}

TEST(HostSession, ConfiguredFailuresCarryErrorInformationWhenDescribed) {
  // One call of the session itself, one of an object it hands out, and the interface query.
  using Call = std::function<HRESULT(IDispatch*, ComPtr<IUnknown>*)>;
  const std::pair<KvHostCall, Call> calls[] = {
      {KvHostCall::Valid,
       [](IDispatch* d, ComPtr<IUnknown>* failing) {
         *failing = ComPtr<IUnknown>(d);
         VARIANT_BOOL valid;
         return AsSession(ComPtr<IDispatch>(d))->get_Valid(&valid);
       }},
      {KvHostCall::UserId,
       [](IDispatch* d, ComPtr<IUnknown>* failing) {
         ComPtr<IDispatch> userDispatch;
         AsSession(ComPtr<IDispatch>(d))->get_User(userDispatch.ReleaseAndGetAddressOf());
         ComPtr<IHostUser> user;
         userDispatch.As(&user);
         *failing = ComPtr<IUnknown>(user.Get());
         LONG id;
         return user->get_Id(&id);
       }},
      {KvHostCall::QueryHostSession,
       [](IDispatch* d, ComPtr<IUnknown>* failing) {
         *failing = ComPtr<IUnknown>(d);
         ComPtr<IHostSession> session;
         return ComPtr<IDispatch>(d).As(&session);
       }},
  };
  for (const auto& [call, run] : calls) {
    for (const std::string description : {"", "session expired"}) {
      SCOPED_TRACE(static_cast<int>(call));
      KvHostSessionConfig config;
      config.failures = {{call, DISP_E_EXCEPTION, description}};
      ComPtr<IDispatch> dispatch = NewSession(config);
      // Leftover error information must not pass for this call's.
      ComPtr<IErrorInfo> stale;
      CreateSimpleErrorInfo("stale", "test", stale.ReleaseAndGetAddressOf());
      SetErrorInfo(0, stale.Get());
      ComPtr<IUnknown> failing;
      EXPECT_EQ(run(dispatch.Get(), &failing), DISP_E_EXCEPTION);
      EXPECT_EQ(TakeErrorDescription(), description.empty() ? "<none>" : description);
      ComPtr<ISupportErrorInfo> support;
      EXPECT_EQ(failing.As(&support), S_OK);
    }
  }
}

TEST(HostSession, MissingObjectsAndForeignDispatch) {
  KvHostSessionConfig config;
  config.user = KvHostUserKind::PlainDispatch;
  config.application = false;
  ComPtr<IDispatch> dispatch = NewSession(config);
  ComPtr<IHostSession> session = AsSession(dispatch);

  ComPtr<IDispatch> user, connection;
  ASSERT_EQ(session->get_User(user.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IHostUser> hostUser;
  EXPECT_EQ(user.As(&hostUser), E_NOINTERFACE);
  ComPtr<IHostApplication> application;
  EXPECT_EQ(session->get_Application(application.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(application);
  EXPECT_EQ(session->get_Connection(connection.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(connection) << "no connection string, no connection";

  KvConfigureHostSession(dispatch.Get(), [](KvHostSessionConfig& c) { c.user = KvHostUserKind::None; });
  EXPECT_EQ(session->get_User(user.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(user);

  ComPtr<IDispatch> plain;
  ASSERT_EQ(KvCreatePlainDispatch(plain.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IHostSession> none;
  EXPECT_EQ(plain.As(&none), E_NOINTERFACE);
  EXPECT_EQ(KvConfigureHostSession(plain.Get(), [](KvHostSessionConfig&) {}), E_INVALIDARG);
  EXPECT_EQ(KvHostSessionCallCount(plain.Get(), KvHostCall::Valid), -1);
}

TEST(HostSession, UnopenableConnectionFailsWithTheLayersCodeAndMessage) {
  KvHostSessionConfig config;
  config.connectionString = "sqlite:/nonexistent-dir/for/sure/x.db";
  ComPtr<IHostSession> session = AsSession(NewSession(config));
  ComPtr<IDispatch> connection;
  const HRESULT hr = session->get_Connection(connection.ReleaseAndGetAddressOf());
  EXPECT_TRUE(FAILED(hr));
  EXPECT_FALSE(connection);
  EXPECT_NE(TakeErrorDescription(), "<none>");
}
