#include <gtest/gtest.h>

#include "src/module/ModuleLock.h"
#include "src/pagedpump/KvDRPump.h"

namespace {

// A minimal aggregate: it answers IUnknown itself and forwards the paged
// pump's interface to the inner object it holds.
struct OuterObject : IUnknown {
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IKvDRPump::kIid && inner) return inner->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
  IUnknown* inner = nullptr;
};

TEST(PagedPumpObjectTest, InterfaceTableAndModuleLock) {
  const LONG locks = ModuleLockCount();
  IKvDRPump* pump = nullptr;
  ASSERT_EQ(CKvDRPump::CreateInstance(nullptr, IKvDRPump::kIid, reinterpret_cast<void**>(&pump)), S_OK);
  EXPECT_EQ(ModuleLockCount(), locks + 1);

  void* p = nullptr;
  ASSERT_EQ(pump->QueryInterface(IID_IDispatch, &p), S_OK);
  EXPECT_EQ(p, static_cast<void*>(pump));
  static_cast<IUnknown*>(p)->Release();
  IUnknown* identity = nullptr;
  ASSERT_EQ(pump->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  ASSERT_EQ(identity->QueryInterface(IID_IUnknown, &p), S_OK);
  EXPECT_EQ(p, static_cast<void*>(identity));
  static_cast<IUnknown*>(p)->Release();
  identity->Release();
  EXPECT_EQ(pump->QueryInterface(IID_ISupportErrorInfo, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);

  EXPECT_EQ(pump->Release(), 0u);
  EXPECT_EQ(ModuleLockCount(), locks);
}

TEST(PagedPumpObjectTest, LivesInsideAnAggregate) {
  const LONG locks = ModuleLockCount();
  OuterObject outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CKvDRPump::CreateInstance(&outer, IKvDRPump::kIid, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ModuleLockCount(), locks);

  ASSERT_EQ(CKvDRPump::CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, &p), S_OK);
  EXPECT_EQ(p, static_cast<void*>(outer.inner));
  outer.inner->Release();

  // Through the aggregate, the interface counts on and answers for the outer object.
  IKvDRPump* pump = nullptr;
  ASSERT_EQ(outer.QueryInterface(IKvDRPump::kIid, reinterpret_cast<void**>(&pump)), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  ASSERT_EQ(pump->QueryInterface(IID_IUnknown, &p), S_OK);
  EXPECT_EQ(p, static_cast<void*>(&outer));
  EXPECT_EQ(outer.refs, 3u);
  outer.Release();
  pump->Release();
  EXPECT_EQ(outer.refs, 1u);

  EXPECT_EQ(ModuleLockCount(), locks + 1);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(ModuleLockCount(), locks);
}

}  // namespace
