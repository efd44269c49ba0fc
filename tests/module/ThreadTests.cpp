// Two threads, each with its own objects and database, use the module at the
// same time. They share what the module shares: its load by the runtime, its
// lock count, its class objects and its type information, all created on
// first use while both threads race for them. Run under ThreadSanitizer by
// scripts/tsan.sh.
#include <latch>
#include <string>
#include <thread>

#include "ModuleSupport.h"
#include "platform/com/ServerModules.h"
#include "tests/fixture/TestDatabase.h"

namespace {

void UseTheModule(int thread, IDispatch* session, std::latch* start) {
  start->arrive_and_wait();
  for (int round = 1; round <= 3; ++round) {
    LateBound record(CreateByProgId(u"KvHtmlDbTools.KvDataPump"));
    LateBound paged(CreateByProgId(u"KvHtmlDbTools.KvDRPump"));
    ASSERT_TRUE(record.Object() && paged.Object());

    EXPECT_EQ(record.Call("Init", {VDispatch(session), VLong(100)}), S_OK);
    const std::string number = "T" + std::to_string(thread) + "-" + std::to_string(round);
    EXPECT_EQ(record.Call("SetFieldValue", {VText("strno"), VText(number.c_str())}), S_OK);
    EXPECT_EQ(record.Get("SaveFieldValues").lVal, round);

    CComVariant count = paged.Get("Init", {VDispatch(session), VText("SELECT lid, strno FROM krorder"),
                                           VText("ORDER BY lid DESC"), VLong(0), VBool(false)});
    EXPECT_EQ(count.lVal, round);
    EXPECT_EQ(TextOf(paged.Get("Value", {VText("strno")})), number);

    ComPtr<ITypeInfo> info;
    EXPECT_EQ(paged.Object()->GetTypeInfo(0, 0, info.ReleaseAndGetAddressOf()), S_OK);
  }
}

TEST(ThreadTest, TwoThreadsUseTheirOwnObjectsAtOnce) {
  auto first = TestDatabase::Create();
  auto second = TestDatabase::Create();
  ComPtr<IDispatch> firstSession = first->NewSession();
  ComPtr<IDispatch> secondSession = second->NewSession();

  // Start from an unloaded module, so the threads also race to load it and
  // to build its caches.
  ASSERT_EQ(ModuleCanUnloadNow(), S_OK);
  CoFreeUnusedLibraries();
  ASSERT_EQ(KvServerLoadedModuleCount(), 0u);

  std::latch start(2);
  std::thread a(UseTheModule, 1, firstSession.Get(), &start);
  std::thread b(UseTheModule, 2, secondSession.Get(), &start);
  a.join();
  b.join();

  EXPECT_EQ(KvServerLoadedModuleCount(), 1u);
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
  EXPECT_EQ(first->QueryString("SELECT strno FROM krorder WHERE lid=3"), "T1-3");
  EXPECT_EQ(second->QueryString("SELECT strno FROM krorder WHERE lid=3"), "T2-3");
}

}  // namespace
