// Path parsing of the upload paths: drives, network prefixes, separators,
// "." and "..", and how an upload url meets the application base path.
#include <gtest/gtest.h>

#include "src/recordpump/FilePath.h"
#include "src/recordpump/UploadFiles.h"

namespace {

using Parts = std::vector<std::string>;

TEST(FilePathTest, WindowsPathsKeepDriveAndDropTrailingSeparator) {
  const CFilePath base("C:\\Inetpub\\wwwroot\\app\\");
  EXPECT_EQ((Parts{"C:", "Inetpub", "wwwroot", "app"}), base.Components());
  EXPECT_FALSE(base.IsAbsolute());
  EXPECT_EQ("C:\\Inetpub\\wwwroot\\app", base.GetText());

  const CFilePath joined = base.Join("files/doc.pdf");
  EXPECT_EQ("C:\\Inetpub\\wwwroot\\app\\files\\doc.pdf", joined.GetText());
  EXPECT_EQ("C:\\Inetpub\\wwwroot\\app", base.GetText()) << "joining leaves the base alone";

  // A rooted text goes back to the drive.
  CFilePath path("C:\\a\\b");
  EXPECT_EQ("C:\\top.txt", path.Append("/top.txt").GetText());
  // Another drive replaces the first component only.
  EXPECT_EQ("D:\\top.txt\\x", path.Append("D:x").GetText());
}

TEST(FilePathTest, NetworkPrefixIsOneComponent) {
  CFilePath share("\\\\srv\\share\\dir");
  EXPECT_EQ((Parts{"\\\\srv", "share", "dir"}), share.Components());
  EXPECT_EQ("\\\\srv\\share\\dir\\x\\z.txt", share.Append("x/./y/../z.txt").GetText());
  // A rooted text stays on the server.
  EXPECT_EQ("\\\\srv\\other", share.Append("\\other").GetText());
  // A network prefix appended later replaces everything.
  EXPECT_EQ("\\\\host\\c", share.Append("\\\\host\\c").GetText());

}

// Texts of every form give a path whose text reads back as the same path;
// nothing of the text is lost on the way but "." and empty pieces.
TEST(FilePathTest, TextsReadBackAsThemselves) {
  struct Case {
    const char* text;
    Parts components;
    const char* expected;
  };
  const Case cases[] = {
      {"\\\\srv", {"\\\\srv"}, "\\\\srv"},
      {"\\\\\\srv\\x", {"\\\\", "srv", "x"}, "\\\\\\srv\\x"},
      {"\\\\/srv", {"\\\\", "srv"}, "\\\\/srv"},
      {"C:", {"C:"}, "C:"},
      {"C:x/y", {"C:", "x", "y"}, "C:/x/y"},
      {"./C:x", {"C:x"}, "./C:x"},
      {"/C:/x", {"C:", "x"}, "/C:/x"},
      {"/:x", {":x"}, "/:x"},
      // A ".." that stayed at the top is not cancelled by the next one.
      {"C:\\a\\..\\..\\..", {"C:", "..", ".."}, "C:\\..\\.."},
      {"a/../../b", {"a", "..", "..", "b"}, "a/../../b"},
      {"\\\\srv\\..\\..", {"\\\\srv", "..", ".."}, "\\\\srv\\..\\.."},
  };
  for (const Case& c : cases) {
    const CFilePath path(c.text);
    EXPECT_EQ(c.components, path.Components()) << c.text;
    EXPECT_EQ(c.expected, path.GetText()) << c.text;
    const CFilePath again(path.GetText());
    EXPECT_EQ(path.Components(), again.Components()) << c.text;
    EXPECT_EQ(path.IsAbsolute(), again.IsAbsolute()) << c.text;
  }
}

TEST(FilePathTest, PosixBasePathStaysPosix) {
  const CFilePath base("/tmp/x/app/");
  EXPECT_EQ('/', base.Separator());
  EXPECT_TRUE(base.IsAbsolute());
  EXPECT_EQ("/tmp/x/app", base.GetText());
  EXPECT_EQ("/tmp/x/app/files/doc.pdf", base.Join("files\\doc.pdf").GetText());
  EXPECT_EQ("/tmp/x/a.txt", base.Join("./sub/../../a.txt").GetText());
  // Empty pieces between doubled separators vanish.
  EXPECT_EQ("/tmp/x/app/a/b", base.Join("a//b/").GetText());
  // A rooted text goes back to the top, not below the first directory.
  EXPECT_EQ("/files/a.pdf", base.Join("/files/a.pdf").GetText());
  EXPECT_TRUE(base.Join("/files/a.pdf").IsAbsolute());
  EXPECT_EQ("/top", CFilePath("a/b").Join("/top").GetText());
}

TEST(FilePathTest, DotDotNeverClimbsOverTheFirstComponent) {
  EXPECT_EQ("C:\\..\\x", CFilePath("C:\\a").Join("../../x").GetText());
  EXPECT_EQ("a\\..\\b", CFilePath("a").Join("../b").GetText());
  EXPECT_EQ("", CFilePath("").GetText());
}

TEST(UploadPathTest, PlainPathRunsBaseAndUrlTogether) {
  EXPECT_EQ("C:\\app\\\\files\\a.pdf", PlainUploadPath("C:\\app\\", "/files/a.pdf"));
  EXPECT_EQ("C:\\appfiles\\a.pdf", PlainUploadPath("C:\\app", "files/a.pdf"));
  EXPECT_EQ("\\tmp\\x\\app\\files\\a.pdf", PlainUploadPath("/tmp/x/app/", "files/a.pdf"));
  EXPECT_EQ("", PlainUploadPath("", ""));
}

TEST(UploadPathTest, JoinedPathDropsOneLeadingSeparator) {
  const CFilePath base("C:\\app\\");
  EXPECT_EQ("C:\\app\\files\\a.pdf", JoinedUploadPath(base, "/files/a.pdf"));
  EXPECT_EQ("C:\\app\\files\\a.pdf", JoinedUploadPath(base, "\\files\\a.pdf"));
  EXPECT_EQ("C:\\app\\files\\a.pdf", JoinedUploadPath(base, "files/a.pdf"));
  // A second separator still roots the url at the drive.
  EXPECT_EQ("C:\\files\\a.pdf", JoinedUploadPath(base, "//files/a.pdf"));
  EXPECT_EQ("/tmp/outside.txt", JoinedUploadPath(CFilePath("/tmp/x/app/"), "../../outside.txt"));
  EXPECT_EQ("/files/a.pdf", JoinedUploadPath(CFilePath("/tmp/x/app/"), "//files/a.pdf"));
}

}  // namespace
