#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "CountingObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"

namespace {

constexpr CLSID kTestClsid = {0x6B1D52A0, 0x3C4E, 0x4F11, {0x9A, 0x01, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07}};
constexpr CLSID kOtherClsid = {0x6B1D52A1, 0x3C4E, 0x4F11, {0x9A, 0x01, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07}};

// An object that must be put into its running state before use.
class RunnableThing : public IRunnableObject {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IUnknown::kIid || riid == IRunnableObject::kIid) {
      *ppv = static_cast<IRunnableObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetRunningClass(CLSID* c) override {
    *c = kTestClsid;
    return S_OK;
  }
  HRESULT Run(void*) override {
    ++m_runs;
    return m_runResult;
  }
  BOOL IsRunning() override { return m_runs > 0; }
  HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT SetContainedObject(BOOL) override { return S_OK; }

  int m_runs = 0;
  HRESULT m_runResult = S_OK;

 private:
  virtual ~RunnableThing() = default;
  std::atomic<ULONG> m_refs{1};
};

// Creates CountingObjects and counts how often it was asked.
class CountingFactory : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IUnknown::kIid || riid == IClassFactory::kIid) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ++m_created;
    auto* object = new CountingObject();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

  ULONG Refs() const { return m_refs; }
  std::atomic<int> m_created{0};

 private:
  virtual ~CountingFactory() = default;
  std::atomic<ULONG> m_refs{1};
};

TEST(ObjBase, RegisteredClassIsCreatedUntilRevoked) {
  auto* factory = new CountingFactory();
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kTestClsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(factory->Refs(), 2u) << "the table holds its own reference";

  ComPtr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(kTestClsid, nullptr, 7, IID_IDispatch, object.ReleaseAndGetVoidAddress()), S_OK);
  ASSERT_TRUE(object);
  EXPECT_EQ(factory->m_created, 1);
  EXPECT_EQ(OleRun(object.Get()), S_OK) << "an object without a running state counts as running";
  EXPECT_EQ(factory->Refs(), 2u) << "the factory used for creation was released";

  // Failures of the factory reach the caller unchanged, with no object.
  IUnknown* none = reinterpret_cast<IUnknown*>(0x1);
  EXPECT_EQ(CoCreateInstance(kTestClsid, object.Get(), 7, IID_IUnknown, reinterpret_cast<void**>(&none)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, 7, IID_IClassFactory, reinterpret_cast<void**>(&none)),
            E_NOINTERFACE);

  ComPtr<IClassFactory> classObject;
  ASSERT_EQ(CoGetClassObject(kTestClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             classObject.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(classObject.Get(), factory);
  classObject.Reset();

  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory->Refs(), 1u);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(kTestClsid, nullptr, 7, IID_IUnknown, object.ReleaseAndGetVoidAddress()),
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(object);
  factory->Release();

  EXPECT_EQ(CoCreateInstance(kOtherClsid, nullptr, 7, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(CoRegisterClassObject(kTestClsid, nullptr, 1, 1, &cookie), E_POINTER);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
  CoFreeUnusedLibraries();
}

TEST(ObjBase, NewestRegistrationWinsUntilRevoked) {
  auto* first = new CountingFactory();
  auto* second = new CountingFactory();
  DWORD firstCookie = 0, secondCookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kTestClsid, first, 1, 1, &firstCookie), S_OK);
  ASSERT_EQ(CoRegisterClassObject(kTestClsid, second, 1, 1, &secondCookie), S_OK);
  ComPtr<IUnknown> object;
  ASSERT_EQ(CoCreateInstance(kTestClsid, nullptr, 7, IID_IUnknown, object.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(second->m_created, 1);
  EXPECT_EQ(first->m_created, 0);
  ASSERT_EQ(CoRevokeClassObject(secondCookie), S_OK);
  ASSERT_EQ(CoCreateInstance(kTestClsid, nullptr, 7, IID_IUnknown, object.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(first->m_created, 1) << "revoking the newer registration brings the older back";
  ASSERT_EQ(CoRevokeClassObject(firstCookie), S_OK);
  first->Release();
  second->Release();
}

TEST(ObjBase, OleRunRunsRunnableObjectsAndPassesItsFailureOn) {
  auto* thing = new RunnableThing();
  EXPECT_EQ(OleRun(thing), S_OK);
  EXPECT_EQ(thing->m_runs, 1);
  thing->m_runResult = E_ACCESSDENIED;
  EXPECT_EQ(OleRun(thing), E_ACCESSDENIED);
  thing->Release();
  EXPECT_EQ(OleRun(nullptr), E_POINTER);
}

TEST(ObjBase, GuidTextRoundTrip) {
  const std::string text = StringFromGUID(kTestClsid);
  EXPECT_EQ(text, "{6B1D52A0-3C4E-4F11-9A01-B2C3D4E5F607}");
  GUID back{};
  ASSERT_TRUE(GUIDFromString(text, &back));
  EXPECT_EQ(back, kTestClsid);
  ASSERT_TRUE(GUIDFromString("{6b1d52a0-3c4e-4f11-9a01-b2c3d4e5f607}", &back));
  EXPECT_EQ(back, kTestClsid);
  EXPECT_EQ(StringFromGUID(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");

  CLSID clsid{};
  const std::u16string wide = Utf8ToUtf16(text);
  ASSERT_EQ(CLSIDFromString(wide.c_str(), &clsid), S_OK);
  EXPECT_EQ(clsid, kTestClsid);
  for (const char* bad : {"{6B1D52A0-3C4E-4F11-9A01-B2C3D4E5F60}", "{6B1D52A0-3C4E-4F11-9A01-B2C3D4E5F60G}",
                          "{6B1D52A0+3C4E-4F11-9A01-B2C3D4E5F607}", "{6B1D52A0-3C4E-4F11-9A01-B2C3D4E5F607",
                          "{}"}) {
    EXPECT_FALSE(GUIDFromString(bad, &back)) << bad;
    EXPECT_EQ(CLSIDFromString(Utf8ToUtf16(bad).c_str(), &clsid), CO_E_CLASSSTRING) << bad;
  }
  // Nothing is registered under this ProgID.
  EXPECT_EQ(CLSIDFromString(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID_NULL);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_POINTER);
}

TEST(ObjBase, RegistrationAndCreationFromSeveralThreads) {
  auto* factory = new CountingFactory();
  DWORD shared = 0;
  ASSERT_EQ(CoRegisterClassObject(kTestClsid, factory, 1, 1, &shared), S_OK);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      CLSID own = kOtherClsid;
      own.Data4[7] = static_cast<uint8_t>(0x40 + t);
      for (int i = 0; i < 200; ++i) {
        // Each thread keeps registering and revoking a class of its own
        // while creating objects of the shared one.
        auto* ownFactory = new CountingFactory();
        DWORD cookie = 0;
        if (CoRegisterClassObject(own, ownFactory, 1, 1, &cookie) != S_OK) ++failures;
        ComPtr<IUnknown> a, b;
        if (CoCreateInstance(kTestClsid, nullptr, 1, IID_IUnknown, a.ReleaseAndGetVoidAddress()) != S_OK) ++failures;
        if (CoCreateInstance(own, nullptr, 1, IID_IUnknown, b.ReleaseAndGetVoidAddress()) != S_OK) ++failures;
        if (CoRevokeClassObject(cookie) != S_OK) ++failures;
        ownFactory->Release();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(factory->m_created, 400);
  ASSERT_EQ(CoRevokeClassObject(shared), S_OK);
  EXPECT_EQ(factory->Refs(), 1u);
  factory->Release();
}

}  // namespace
