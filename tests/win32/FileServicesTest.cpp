#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/fixture/TempDir.h"
#include "platform/win32/ErrnoToWin32.h"
#include "platform/win32/Win32.h"

namespace fs = std::filesystem;

namespace {

class FileServices : public ::testing::Test {
 protected:
  void TearDown() override { KvSetFileRoots({}); }
  TempDir dir;
};

std::string Backslashed(std::string p) {
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

}  // namespace

TEST_F(FileServices, DeleteRemovesAFileGivenWithEitherSeparatorAndALinkNotItsTarget) {
  const std::string a = dir.Write("sub/a.txt", "a");
  const std::string b = dir.Write("sub/b.txt", "b");
  EXPECT_TRUE(PathExistsA(Backslashed(a).c_str()));
  EXPECT_TRUE(PathExistsA((dir / "sub").c_str()));
  EXPECT_TRUE(DeleteFileA(a.c_str()));
  EXPECT_TRUE(DeleteFileA(Backslashed(b).c_str()));
  EXPECT_FALSE(PathExistsA(a.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(fs::exists(b));
  // Doubled separators, as a base path with a trailing one and a url with a leading one give.
  const std::string c = dir.Write("sub/c.txt", "c");
  EXPECT_TRUE(DeleteFileA(Backslashed(dir.Path() + "/sub\\\\c.txt").c_str()));
  EXPECT_FALSE(fs::exists(c));

  const std::string target = dir.Write("target.txt", "keep");
  fs::create_symlink(target, dir / "link.txt");
  EXPECT_TRUE(DeleteFileA((dir / "link.txt").c_str()));
  EXPECT_FALSE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(TempDir::Read(target), "keep");
}

TEST_F(FileServices, RootsConfineEveryServiceLexicallyAndThroughLinks) {
  const std::string root = dir / "app";
  const std::string inside = dir.Write("app/files/in.txt", "in");
  const std::string outside = dir.Write("outside.txt", "out");
  dir.Write("elsewhere/secret.txt", "secret");
  fs::create_symlink(dir / "elsewhere", root + "/escape");
  KvSetFileRoots({root + "/"});
  EXPECT_EQ(KvGetFileRoots(), std::vector<std::string>{root + "/"});

  const std::string denied[] = {
      outside,
      root + "/../outside.txt",
      Backslashed(root + "/files/../../outside.txt"),
      root + "/escape/secret.txt",
      root + "/escape/../outside.txt",
      root + "x/file.txt",  // shares the root's text but is a sibling
  };
  for (const std::string& p : denied) {
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(p.c_str())) << p;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << p;
    EXPECT_FALSE(PathExistsA(p.c_str())) << p;
    EXPECT_FALSE(CopyFileA(inside.c_str(), p.c_str(), FALSE)) << p;
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << p;
    EXPECT_FALSE(CopyFileA(p.c_str(), (root + "/copy.txt").c_str(), FALSE)) << p;
  }
  EXPECT_EQ(TempDir::Read(outside), "out");
  EXPECT_EQ(TempDir::Read(dir / "elsewhere/secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(root + "/copy.txt"));

  // A relative path is taken from the working directory.
  const fs::path cwd = fs::current_path();
  fs::current_path(root + "/files");
  const BOOL relativeOut = DeleteFileA("../../outside.txt");
  const DWORD relativeError = GetLastError();
  const BOOL relativeIn = DeleteFileA("..\\files\\in.txt");
  fs::current_path(cwd);
  EXPECT_FALSE(relativeOut);
  EXPECT_EQ(relativeError, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(relativeIn);
  EXPECT_TRUE(fs::exists(outside));

  // Inside the root everything works as usual; an empty list lifts the confinement.
  dir.Write("app/files/b.txt", "b");
  EXPECT_TRUE(DeleteFileA(Backslashed(root + "/files/b.txt").c_str()));
  KvSetFileRoots({});
  EXPECT_TRUE(DeleteFileA(outside.c_str()));
}

TEST_F(FileServices, RootReachedThroughALinkStillConfines) {
  dir.Write("real/app/a.txt", "a");
  const std::string outside = dir.Write("real/other.txt", "o");
  fs::create_symlink(dir / "real/app", dir / "applink");
  KvSetFileRoots({dir / "applink"});
  EXPECT_TRUE(PathExistsA((dir / "applink/a.txt").c_str()));
  EXPECT_TRUE(PathExistsA((dir / "real/app/a.txt").c_str()));
  EXPECT_FALSE(DeleteFileA((dir / "applink/../other.txt").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::exists(outside));
}
