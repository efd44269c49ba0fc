// The host's data pack object on the demo repository: tables, language
// tables and child packs, created by class id, and its failures.
#include <gtest/gtest.h>

#include "platform/com/ComError.h"
#include "platform/com/ObjBase.h"
#include "platform/host/HostComponents.h"
#include "platform/host/HostInterfaces.h"
#include "tests/fixture/TestDatabase.h"

namespace {

class HostDataPackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cookie = KvRegisterHostDataPack();
    ASSERT_NE(0u, cookie);
    db = TestDatabase::Create();
    session = db->NewSession();
  }
  void TearDown() override {
    KvHostDataPackFailNone();
    CoRevokeClassObject(cookie);
  }

  ComPtr<IHostDataPack> Create() {
    ComPtr<IHostDataPack> pack;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_KvHostDataPack, nullptr, CLSCTX_ALL, IHostDataPack::kIid,
                                     pack.ReleaseAndGetVoidAddress()));
    return pack;
  }
  static std::string Table(IHostDataPack* pack) {
    CComBSTR text;
    EXPECT_EQ(S_OK, pack->get_Table(&text));
    return text.ToUtf8();
  }
  static std::string LangTable(IHostDataPack* pack) {
    CComBSTR text;
    EXPECT_EQ(S_OK, pack->get_LangTable(&text));
    return text.ToUtf8();
  }
  // The ids of the child packs.
  static std::vector<LONG> ChildIds(IHostDataPack* pack) {
    ComPtr<IHostDataPackList> children;
    EXPECT_EQ(S_OK, pack->get_Children(children.ReleaseAndGetAddressOf()));
    LONG count = -1;
    EXPECT_EQ(S_OK, children->get_Count(&count));
    std::vector<LONG> ids;
    for (LONG i = 0; i < count; ++i) {
      ComPtr<IHostDataPack> child;
      EXPECT_EQ(S_OK, children->Item(i, child.ReleaseAndGetAddressOf()));
      LONG id = 0;
      EXPECT_EQ(S_OK, child->get_Id(&id));
      ids.push_back(id);
    }
    return ids;
  }
  // The description of the error information the last failure left.
  static std::string LastErrorDescription() {
    IErrorInfo* raw = nullptr;
    if (GetErrorInfo(0, &raw) != S_OK || !raw) return "<none>";
    ComPtr<IErrorInfo> info = ComPtr<IErrorInfo>::Attach(raw);
    CComBSTR description;
    info->GetDescription(&description);
    return description.ToUtf8();
  }

  DWORD cookie = 0;
  std::unique_ptr<TestDatabase> db;
  ComPtr<IDispatch> session;
};

TEST_F(HostDataPackTest, DescribesTheDemoTreeFromTheRepository) {
  ComPtr<IHostDataPack> orders = Create();
  ASSERT_EQ(S_OK, orders->Load(session.Get(), 10));
  EXPECT_EQ("krorder", Table(orders.Get()));
  EXPECT_EQ("krorder_l", LangTable(orders.Get()));
  EXPECT_EQ(std::vector<LONG>{12}, ChildIds(orders.Get()));

  // Items come loaded and lead further down; language packs are no children.
  ComPtr<IHostDataPackList> children;
  ASSERT_EQ(S_OK, orders->get_Children(children.ReleaseAndGetAddressOf()));
  ComPtr<IHostDataPack> lines;
  ASSERT_EQ(S_OK, children->Item(0, lines.ReleaseAndGetAddressOf()));
  EXPECT_EQ("krorderline", Table(lines.Get()));
  EXPECT_EQ("krorderline_l", LangTable(lines.Get()));
  EXPECT_EQ(std::vector<LONG>{14}, ChildIds(lines.Get()));

  ComPtr<IHostDataPack> notes = Create();
  ASSERT_EQ(S_OK, notes->Load(session.Get(), 14));
  EXPECT_EQ("", LangTable(notes.Get()));
  EXPECT_TRUE(ChildIds(notes.Get()).empty());

  // Every creation gives a fresh object.
  EXPECT_NE(Create().Get(), orders.Get());
}

TEST_F(HostDataPackTest, FailuresComeWithErrorInformation) {
  ComPtr<IHostDataPack> pack = Create();
  CComBSTR text;
  EXPECT_EQ(E_UNEXPECTED, pack->get_Table(&text)) << "not loaded yet";
  EXPECT_EQ(E_POINTER, pack->Load(nullptr, 10));

  EXPECT_EQ(E_INVALIDARG, pack->Load(session.Get(), 99));
  EXPECT_EQ("There is no data pack 99", LastErrorDescription());

  KvHostDataPackFailFor(12);
  EXPECT_EQ(E_FAIL, pack->Load(session.Get(), 12));
  EXPECT_EQ("Data pack 12 cannot be loaded", LastErrorDescription());
  // The parent still loads; handing out the failing child fails.
  ASSERT_EQ(S_OK, pack->Load(session.Get(), 10));
  ComPtr<IHostDataPackList> children;
  ASSERT_EQ(S_OK, pack->get_Children(children.ReleaseAndGetAddressOf()));
  ComPtr<IHostDataPack> child;
  EXPECT_EQ(E_FAIL, children->Item(0, child.ReleaseAndGetAddressOf()));
  EXPECT_FALSE(child);
  EXPECT_EQ(DISP_E_BADINDEX, children->Item(1, child.ReleaseAndGetAddressOf()));
  KvHostDataPackFailNone();
  EXPECT_EQ(S_OK, children->Item(0, child.ReleaseAndGetAddressOf()));

  // A database that lacks the repository reports the access layer's error.
  db->Exec("DROP TABLE krappdatapack");
  EXPECT_TRUE(FAILED(pack->Load(session.Get(), 10)));
  EXPECT_NE("<none>", LastErrorDescription());
}

}  // namespace
