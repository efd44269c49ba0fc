// Object creation, interfaces, aggregation and the module's unload answer.
#include <unistd.h>

#include <atomic>

#include "ModuleSupport.h"
#include "platform/com/Registry.h"
#include "platform/com/ServerModules.h"
#include "tests/fixture/TempDir.h"
#include "src/pagedpump/IKvDRPump.h"
#include "src/recordpump/IKvDataPump.h"

namespace {

// An outer object that aggregates an inner one: it answers IUnknown itself
// and hands every other request to the inner object's own IUnknown.
class Aggregate final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (!m_inner) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return m_inner->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override { return --m_refs; }  // lives on the test's stack

  ComPtr<IUnknown> m_inner;
  std::atomic<ULONG> m_refs{1};
};

HRESULT CreateClass(REFCLSID clsid, IUnknown* outer, REFIID riid, ComPtr<IUnknown>* out) {
  return CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, riid, out->ReleaseAndGetVoidAddress());
}

TEST(LifetimeTest, RecordPumpRefusesAggregationAndPagedPumpLivesInsideAnAggregate) {
  Aggregate outer;
  ComPtr<IUnknown> refused;
  EXPECT_EQ(CreateClass(CLSID_KvDataPump, &outer, IID_IUnknown, &refused), CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(refused);
  EXPECT_EQ(outer.m_refs, 1u);
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);  // no object was left behind

  ASSERT_EQ(CreateClass(CLSID_KvDRPump, &outer, IID_IUnknown, &outer.m_inner), S_OK);
  // The inner unknown answers IUnknown with itself, not with the outer object.
  ComPtr<IUnknown> again;
  ASSERT_EQ(outer.m_inner->QueryInterface(IID_IUnknown, again.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(again.Get(), outer.m_inner.Get());
  again.Reset();

  // Interfaces reached through the aggregate count on the outer object and
  // lead back to it.
  ComPtr<IKvDRPump> pump;
  ASSERT_EQ(outer.QueryInterface(IKvDRPump::kIid, pump.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(outer.m_refs, 2u);
  ComPtr<IUnknown> controlling;
  ASSERT_EQ(pump->QueryInterface(IID_IUnknown, controlling.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(controlling.Get(), static_cast<IUnknown*>(&outer));
  controlling.Reset();

  // And it still works by name.
  LateBound late(ComPtr<IDispatch>(pump.Get()));
  EXPECT_EQ(late.Id("MoveNext"), 3);
  pump.Reset();
  late = LateBound(nullptr);
  EXPECT_EQ(outer.m_refs, 1u);

  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
  outer.m_inner.Reset();
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
}

TEST(LifetimeTest, IDispatchIsTheDualInterfaceAndErrorInfoIsNotOffered) {
  struct Case {
    const char16_t* progId;
    IID dual;
  };
  for (const Case& c : {Case{u"KvHtmlDbTools.KvDataPump", IKvDataPump::kIid},
                        Case{u"KvHtmlDbTools.KvDRPump", IKvDRPump::kIid}}) {
    ComPtr<IDispatch> object = CreateByProgId(c.progId);
    ASSERT_TRUE(object);
    ComPtr<IUnknown> dual, dispatch, errorInfo;
    ASSERT_EQ(object->QueryInterface(c.dual, dual.ReleaseAndGetVoidAddress()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.ReleaseAndGetVoidAddress()), S_OK);
    EXPECT_EQ(dual.Get(), dispatch.Get());
    EXPECT_EQ(object->QueryInterface(IID_ISupportErrorInfo, errorInfo.ReleaseAndGetVoidAddress()),
              E_NOINTERFACE);
    EXPECT_FALSE(errorInfo);
  }
}

TEST(LifetimeTest, ModuleStaysWhileAnObjectOrAClassObjectIsHeld) {
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);

  ComPtr<IDispatch> object = CreateByProgId(u"KvHtmlDbTools.KvDataPump");
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_EQ(KvServerLoadedModuleCount(), 1u);
  object.Reset();
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_KvDRPump, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  ComPtr<IClassFactory> cached = factory;  // one client, two references
  factory.Reset();
  cached.Reset();
  EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);  // the lock alone keeps it
  ASSERT_EQ(CoGetClassObject(CLSID_KvDRPump, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.ReleaseAndGetVoidAddress()),
            S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  EXPECT_EQ(ModuleCanUnloadNow(), S_OK);

  // Unused now: the runtime unloads it, and the next creation loads it again.
  CoFreeUnusedLibraries();
  EXPECT_EQ(KvServerLoadedModuleCount(), 0u);
  object = CreateByProgId(u"KvHtmlDbTools.KvDRPump");
  ASSERT_TRUE(object);
  EXPECT_EQ(KvServerLoadedModuleCount(), 1u);
  EXPECT_EQ(LateBound(object).Id("IsBOF"), 10);
}

// A loaded module is found again by the path the registry names it by; what
// the registry names now decides, whatever name found the module before.
TEST(LifetimeTest, TheRegistrysPathOfTheMomentFindsTheModule) {
  const std::string serverKey = "CLSID\\" + StringFromGUID(CLSID_KvDataPump) + "\\InprocServer32";
  std::string registered;
  ASSERT_EQ(KvRegQueryValue(serverKey, "", &registered), S_OK);
  TempDir dir;
  const std::string link = dir / "pump-module.so";
  ASSERT_EQ(symlink(registered.c_str(), link.c_str()), 0);

  ComPtr<IDispatch> byFile = CreateByProgId(u"KvHtmlDbTools.KvDataPump");
  ASSERT_EQ(KvRegSetValue(serverKey, "", link), S_OK);
  ComPtr<IDispatch> byLink = CreateByProgId(u"KvHtmlDbTools.KvDataPump");
  EXPECT_TRUE(byFile && byLink);
  EXPECT_EQ(KvServerLoadedModuleCount(), 1u);  // one file, loaded once

  ASSERT_EQ(KvRegSetValue(serverKey, "", dir / "gone.so"), S_OK);
  ComPtr<IUnknown> refused;
  EXPECT_EQ(CoCreateInstance(CLSID_KvDataPump, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             refused.ReleaseAndGetVoidAddress()),
            CO_E_DLLNOTFOUND);

  // Unloaded and named by the link again: loaded anew through it.
  byFile.Reset();
  byLink.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(KvServerLoadedModuleCount(), 0u);
  ASSERT_EQ(KvRegSetValue(serverKey, "", link), S_OK);
  EXPECT_TRUE(CreateByProgId(u"KvHtmlDbTools.KvDataPump"));
  ASSERT_EQ(KvRegSetValue(serverKey, "", registered), S_OK);
}

}  // namespace
