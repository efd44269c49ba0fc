#include <gtest/gtest.h>

#include <atomic>

#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"

namespace {

constexpr CLSID kTestClsid = {0x6B1D52A0, 0x3C4E, 0x4F11, {0x9A, 0x01, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07}};
constexpr CLSID kOtherClsid = {0x6B1D52A1, 0x3C4E, 0x4F11, {0x9A, 0x01, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07}};

// What the factory makes: an IDispatch with nothing but its lifetime.
class PlainObject : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IUnknown::kIid || riid == IDispatch::kIid ? static_cast<IDispatch*>(this) : nullptr;
    if (*ppv) AddRef();
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

 private:
  virtual ~PlainObject() = default;
  std::atomic<ULONG> m_refs{1};
};

// Creates PlainObjects and counts how often it was asked.
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
    auto* object = new PlainObject();
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

}  // namespace
