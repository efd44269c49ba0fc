// The host's file copier in a real directory: unique names, copies that
// never overwrite, and names that would leave the directory.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/com/ObjBase.h"
#include "platform/host/HostComponents.h"
#include "platform/host/HostInterfaces.h"
#include "tests/fixture/TempDir.h"
#include "tests/fixture/TestDatabase.h"

namespace {

class HostFileCopierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cookie = KvRegisterHostFileCopier();
    ASSERT_NE(0u, cookie);
    db = TestDatabase::Create();
    db->WriteFile("files/doc.pdf", "pdf bytes");
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KvHostFileCopier, nullptr, CLSCTX_ALL, IHostFileCopier::kIid,
                                     copier.ReleaseAndGetVoidAddress()));
  }
  void TearDown() override { CoRevokeClassObject(cookie); }

  // The directory as the component names it: Windows-style separators.
  std::string Directory(const std::string& relative) const {
    std::string path = db->BasePath() + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }
  LONG Init(const std::string& directory) {
    LONG result = -1;
    EXPECT_EQ(S_OK, copier->Init(nullptr, CComBSTR(directory).Get(), &result));
    return result;
  }
  std::string Unique(const std::string& base, const std::string& extension) {
    CComBSTR name;
    EXPECT_EQ(S_OK, copier->UniqueName(CComBSTR(base).Get(), CComBSTR(extension).Get(), &name));
    return name.ToUtf8();
  }
  LONG Copy(const std::string& source, const std::string& target) {
    LONG copied = -1;
    EXPECT_EQ(S_OK, copier->Copy(CComBSTR(source).Get(), CComBSTR(target).Get(), &copied));
    return copied;
  }
  std::string Content(const std::string& relative) { return TempDir::Read(db->BasePath() + relative); }

  DWORD cookie = 0;
  std::unique_ptr<TestDatabase> db;
  ComPtr<IHostFileCopier> copier;
};

TEST_F(HostFileCopierTest, CopiesToUnusedNamesInItsDirectory) {
  EXPECT_EQ(1, Init(Directory("files")));
  EXPECT_EQ("doc_1.pdf", Unique("doc", ".pdf"));
  EXPECT_EQ(1, Copy("doc.pdf", "doc_1.pdf"));
  EXPECT_EQ("pdf bytes", Content("files/doc_1.pdf"));
  EXPECT_EQ("doc_2.pdf", Unique("doc", ".pdf"));

  // An existing target is never overwritten; a missing source copies nothing.
  db->WriteFile("files/other.pdf", "other");
  EXPECT_EQ(0, Copy("other.pdf", "doc_1.pdf"));
  EXPECT_EQ("pdf bytes", Content("files/doc_1.pdf"));
  EXPECT_EQ(0, Copy("missing.pdf", "new.pdf"));
  EXPECT_FALSE(db->FileExists("files/new.pdf"));
}

TEST_F(HostFileCopierTest, NamesThatLeaveTheDirectoryAreRefused) {
  EXPECT_EQ(1, Init(Directory("files") + "\\"));
  for (const char* name : {"../doc.pdf", "..\\x.pdf", "sub/doc.pdf", "..", ".", ""})
    EXPECT_EQ(0, Copy("doc.pdf", name)) << name;
  EXPECT_EQ(0, Copy("../files/doc.pdf", "y.pdf"));
  EXPECT_FALSE(db->FileExists("doc.pdf"));
  EXPECT_FALSE(db->FileExists("files/y.pdf"));
}

}  // namespace
