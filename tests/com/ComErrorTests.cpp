#include <gtest/gtest.h>

#include <thread>

#include "platform/com/ComError.h"

namespace {

// An object that reports error information for one interface only.
class ErrorSource : public ISupportErrorInfo {
 public:
  explicit ErrorSource(REFIID supported) : m_supported(supported) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IUnknown::kIid || riid == ISupportErrorInfo::kIid) {
      *ppv = static_cast<ISupportErrorInfo*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == m_supported ? S_OK : S_FALSE; }

 private:
  IID m_supported;
};

constexpr IID kSomeIid = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

ComPtr<IErrorInfo> MakeInfo(const char* description) {
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(CreateSimpleErrorInfo(description, "TestSource", info.ReleaseAndGetAddressOf()), S_OK);
  return info;
}

TEST(ComError, WithoutErrorInfoDescriptionIsNull) {
  try {
    ThrowIfFailed(E_POINTER);
    FAIL() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
    EXPECT_EQ(e.ErrorInfo(), nullptr);
    EXPECT_EQ(e.Description(), nullptr);
  }
  EXPECT_NO_THROW(ThrowIfFailed(S_FALSE));
}

TEST(ComError, CarriesDescriptionOfItsErrorInfo) {
  ComPtr<IErrorInfo> info = MakeInfo("Verbindung fehlgeschlagen: \xC3\xBC");
  _com_error e(E_FAIL, info.Get(), true);
  ASSERT_NE(e.Description(), nullptr);
  EXPECT_EQ(Utf8FromBstr(e.Description()), "Verbindung fehlgeschlagen: \xC3\xBC");
  _com_error copy(e);
  _com_error assigned(S_OK);
  assigned = copy;
  EXPECT_EQ(assigned.Error(), E_FAIL);
  EXPECT_EQ(Utf8FromBstr(assigned.Description()), Utf8FromBstr(e.Description()));
  ComPtr<IErrorInfo> back = ComPtr<IErrorInfo>::Attach(e.ErrorInfo());
  EXPECT_EQ(back.Get(), info.Get());
  CComBSTR source;
  ASSERT_EQ(back->GetSource(&source), S_OK);
  EXPECT_EQ(source.ToUtf8(), "TestSource");
}

TEST(ComError, ThrowComFailureTakesThreadErrorInfoOnlyWhenSupported) {
  ErrorSource object(kSomeIid);
  ASSERT_EQ(SetErrorInfo(0, MakeInfo("from the object").Get()), S_OK);
  try {
    ThrowComFailure(E_ACCESSDENIED, &object, kSomeIid);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_ACCESSDENIED);
    ASSERT_NE(e.Description(), nullptr);
    EXPECT_EQ(Utf8FromBstr(e.Description()), "from the object");
  }
  // The info was taken: the slot is empty now.
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
  EXPECT_EQ(left, nullptr);

  // For an interface the object does not vouch for, stale info stays unused.
  ASSERT_EQ(SetErrorInfo(0, MakeInfo("stale").Get()), S_OK);
  try {
    ThrowComFailure(E_FAIL, &object, IID_IDispatch);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Description(), nullptr);
  }
  try {
    ThrowComFailure(E_FAIL, nullptr, kSomeIid);
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    EXPECT_EQ(e.Description(), nullptr);
  }
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_POINTER);
}

TEST(ComError, ErrorInfoSlotIsPerThread) {
  ASSERT_EQ(SetErrorInfo(0, MakeInfo("main thread").Get()), S_OK);
  HRESULT otherResult = E_FAIL;
  std::thread other([&] {
    IErrorInfo* info = nullptr;
    otherResult = GetErrorInfo(0, &info);
  });
  other.join();
  EXPECT_EQ(otherResult, S_FALSE);
  ComPtr<IErrorInfo> mine;
  ASSERT_EQ(GetErrorInfo(0, mine.ReleaseAndGetAddressOf()), S_OK);
  CComBSTR description;
  ASSERT_EQ(mine->GetDescription(&description), S_OK);
  EXPECT_EQ(description.ToUtf8(), "main thread");
}

}  // namespace
