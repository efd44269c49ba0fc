#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/host/HostSession.h"
#include "tests/fixture/TestDatabase.h"

TEST(HostSession, OffersConnectionValidityUserAndApplication) {
  auto db = TestDatabase::Create();
  ComPtr<IDispatch> dispatch = db->NewSession(7, false, "/srv/app/");
  ComPtr<IHostSession> session;
  ASSERT_EQ(dispatch.As(&session), S_OK);

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
