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

  // Without a separator after the server name, or without a name at all,
  // only the bare prefix is kept.
  EXPECT_EQ((Parts{"\\\\"}), CFilePath("\\\\srv").Components());
  EXPECT_EQ((Parts{"\\\\"}), CFilePath("\\\\\\srv\\x").Components());
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
}

}  // namespace
