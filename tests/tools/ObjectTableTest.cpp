// The page's table of COM objects: what it learns of one object's members
// serves every object of the same class, and no object of another.
#include <gtest/gtest.h>

#include "bridge/MemberCall.h"
#include "bridge/ObjectTable.h"
#include "platform/com/Registry.h"
#include "platform/com/ServerModules.h"
#include "platform/host/HostSession.h"
#include "tests/fixture/TempDir.h"

#if defined(KV_MODULE_PATH)

namespace {

class ObjectTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KvRegistryUseFile(m_dir / "registry");
    std::string error;
    ASSERT_EQ(KvServerRegisterModule(KV_MODULE_PATH, false, &error), S_OK) << error;
  }
  void TearDown() override { KvRegistryUseFile(""); }

  static ComPtr<IDispatch> Make(const char* progId) {
    ComPtr<IDispatch> object;
    ComFailure failure;
    EXPECT_TRUE(CreateObjectByProgId(progId, &object, &failure)) << failure.message;
    return object;
  }

  TempDir m_dir;
};

TEST_F(ObjectTableTest, WhatOneObjectTaughtServesItsClassOnly) {
  ObjectTable table;
  const uint32_t first = table.Add(Make("KvHtmlDbTools.KvDataPump"), "first");
  DISPID dispid = DISPID_UNKNOWN;
  bool isMethod = true;
  EXPECT_FALSE(table.KnownMember(first, "MoveTo", &dispid, &isMethod));
  table.RememberMember(first, "MoveTo", 7);
  table.RememberMethod(first, 7);

  // Another data pump, even one made after the first is gone, knows it.
  table.Remove(first);
  const uint32_t second = table.Add(Make("KvHtmlDbTools.KvDataPump"), "second");
  ASSERT_TRUE(table.KnownMember(second, "MoveTo", &dispid, &isMethod));
  EXPECT_EQ(dispid, 7);
  EXPECT_TRUE(isMethod);
  EXPECT_EQ(table.MemberName(second, 7), "MoveTo");

  // A paged pump is another class; a host session describes none.
  const uint32_t paged = table.Add(Make("KvHtmlDbTools.KvDRPump"), "paged");
  EXPECT_FALSE(table.KnownMember(paged, "MoveTo", &dispid, &isMethod));
  ComPtr<IDispatch> session;
  ASSERT_EQ(KvCreateHostSession(KvHostSessionConfig(), session.ReleaseAndGetAddressOf()), S_OK);
  const uint32_t one = table.Add(session, "Session"), other = table.Add(session, "Session");
  table.RememberMember(one, "Item", 0);
  EXPECT_TRUE(table.KnownMember(one, "Item", &dispid, &isMethod));
  EXPECT_FALSE(table.KnownMember(other, "Item", &dispid, &isMethod));
  table.Clear();
  EXPECT_EQ(table.Count(), 0u);
}

}  // namespace

#endif
