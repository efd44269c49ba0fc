#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "TempDir.h"
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

TEST(ErrnoMapping, FileSystemRefusalsBecomeTheirWindowsCodes) {
  EXPECT_EQ(KvWin32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(KvWin32ErrorFromErrno(ENOTDIR), ERROR_PATH_NOT_FOUND);
  for (int e : {EACCES, EPERM, EISDIR, EROFS}) EXPECT_EQ(KvWin32ErrorFromErrno(e), ERROR_ACCESS_DENIED) << e;
  EXPECT_EQ(KvWin32ErrorFromErrno(EBUSY), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(KvWin32ErrorFromErrno(EINVAL), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(KvWin32ErrorFromErrno(ENOTEMPTY), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(KvWin32ErrorFromErrno(ENAMETOOLONG), ERROR_FILENAME_EXCED_RANGE);
  // Every code the mapping can give has a message text.
  for (int e = 1; e < 134; ++e)
    EXPECT_FALSE(SystemMessageText(KvWin32ErrorFromErrno(e)).empty()) << "errno " << e;
}

TEST_F(FileServices, DeleteRemovesAFileGivenWithEitherSeparator) {
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
}

TEST_F(FileServices, DeleteFailuresCarryTheWindowsCodeAndTouchNothing) {
  struct Case {
    std::string path;
    DWORD error;
  };
  const std::string plain = dir.Write("file.txt", "x");
  const std::string readOnly = dir.Write("ro.txt", "x");
  ::chmod(readOnly.c_str(), 0444);
  fs::create_directories(dir / "folder");
  const Case cases[] = {
      {dir / "missing.txt", ERROR_FILE_NOT_FOUND},
      {dir / "nodir/missing.txt", ERROR_PATH_NOT_FOUND},
      {dir / "file.txt/inner.txt", ERROR_PATH_NOT_FOUND},
      {dir / "folder", ERROR_ACCESS_DENIED},
      {dir / "folder/", ERROR_ACCESS_DENIED},
      {readOnly, ERROR_ACCESS_DENIED},
      {dir / (std::string(300, 'n') + ".txt"), ERROR_FILENAME_EXCED_RANGE},
      {"", ERROR_PATH_NOT_FOUND},
      {"C:\\app\\file.txt", ERROR_PATH_NOT_FOUND},
      {"\\\\server\\share\\file.txt", ERROR_BAD_NETPATH},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(c.path.c_str())) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_TRUE(fs::exists(plain));
  EXPECT_TRUE(fs::exists(readOnly));
}

TEST_F(FileServices, DeletingALinkRemovesTheLinkNotItsTarget) {
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

TEST_F(FileServices, CopyWritesTheWholeFileAndKeepsItsMode) {
  std::string content(200000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  const std::string source = dir.Write("src.bin", content);
  ::chmod(source.c_str(), 0640);
  ASSERT_TRUE(CopyFileA(Backslashed(source).c_str(), (dir / "copy.bin").c_str(), TRUE));
  EXPECT_EQ(TempDir::Read(dir / "copy.bin"), content);
  EXPECT_EQ(fs::status(dir / "copy.bin").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  const std::string other = dir.Write("other.txt", "other");
  EXPECT_FALSE(CopyFileA(other.c_str(), (dir / "copy.bin").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(TempDir::Read(dir / "copy.bin"), content);
  EXPECT_TRUE(CopyFileA(other.c_str(), (dir / "copy.bin").c_str(), FALSE));
  EXPECT_EQ(TempDir::Read(dir / "copy.bin"), "other");
}

TEST_F(FileServices, CopyFailuresLeaveNoTrace) {
  const std::string source = dir.Write("src.txt", "s");
  const std::string readOnly = dir.Write("ro.txt", "ro");
  ::chmod(readOnly.c_str(), 0444);
  fs::create_directories(dir / "folder");
  struct Case {
    std::string from, to;
    DWORD error;
  };
  const Case cases[] = {
      {dir / "missing.txt", dir / "t1.txt", ERROR_FILE_NOT_FOUND},
      {dir / "nodir/missing.txt", dir / "t2.txt", ERROR_PATH_NOT_FOUND},
      {dir / "folder", dir / "t3.txt", ERROR_ACCESS_DENIED},
      {source, dir / "nodir/t4.txt", ERROR_PATH_NOT_FOUND},
      {source, dir / "folder", ERROR_ACCESS_DENIED},
      {source, readOnly, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(CopyFileA(c.from.c_str(), c.to.c_str(), FALSE)) << c.from << " -> " << c.to;
    EXPECT_EQ(GetLastError(), c.error) << c.from << " -> " << c.to;
  }
  EXPECT_EQ(TempDir::Read(readOnly), "ro");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.Path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"folder", "ro.txt", "src.txt"}));
}
