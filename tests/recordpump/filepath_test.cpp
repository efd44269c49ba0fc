// Path parsing of the upload paths: drives, network prefixes, separators,
// "." and "..", and how an upload url meets the application base path.
#include <gtest/gtest.h>

#include "src/recordpump/FilePath.h"
#include "src/recordpump/UploadFiles.h"

namespace {

using Parts = std::vector<std::string>;

// Texts of every form give a path whose text reads back as the same path;
// nothing of the text is lost on the way but "." and empty pieces, and a
// trailing separator.
TEST(FilePathTest, TextsReadBackAsThemselves) {
  const struct {
    const char* text;
    Parts components;
    const char* expected;
    bool absolute;
  } cases[] = {
      {"C:\\Inetpub\\wwwroot\\app\\", {"C:", "Inetpub", "wwwroot", "app"}, "C:\\Inetpub\\wwwroot\\app", false},
      {"/tmp/x/app/", {"tmp", "x", "app"}, "/tmp/x/app", true},
      {"", {}, "", false},
      {"\\\\srv\\share\\dir", {"\\\\srv", "share", "dir"}, "\\\\srv\\share\\dir", false},
      {"\\\\srv", {"\\\\srv"}, "\\\\srv", false},
      {"\\\\\\srv\\x", {"\\\\", "srv", "x"}, "\\\\\\srv\\x", false},
      {"\\\\/srv", {"\\\\", "srv"}, "\\\\/srv", false},
      {"C:", {"C:"}, "C:", false},
      {"C:x/y", {"C:", "x", "y"}, "C:/x/y", false},
      {"./C:x", {"C:x"}, "./C:x", false},
      {"/C:/x", {"C:", "x"}, "/C:/x", true},
      {"/:x", {":x"}, "/:x", true},
      // A ".." that stayed at the top is not cancelled by the next one.
      {"C:\\a\\..\\..\\..", {"C:", "..", ".."}, "C:\\..\\..", false},
      {"a/../../b", {"a", "..", "..", "b"}, "a/../../b", false},
      {"\\\\srv\\..\\..", {"\\\\srv", "..", ".."}, "\\\\srv\\..\\..", false},
  };
  for (const auto& c : cases) {
    const CFilePath path(c.text);
    EXPECT_EQ(c.components, path.Components()) << c.text;
    EXPECT_EQ(c.expected, path.GetText()) << c.text;
    EXPECT_EQ(c.absolute, path.IsAbsolute()) << c.text;
    const CFilePath again(path.GetText());
    EXPECT_EQ(path.Components(), again.Components()) << c.text;
    EXPECT_EQ(path.IsAbsolute(), again.IsAbsolute()) << c.text;
  }
}

// Joining keeps the base's separator and leaves the base alone; a rooted
// text goes back to the drive, the server or the top; another drive
// replaces the first component only, a network prefix everything; ".."
// never climbs over the first component. An upload url joined to the
// base loses one leading separator; the plain form runs the texts together.
TEST(FilePathTest, JoinedTexts) {
  const struct {
    const char* base;
    const char* text;
    const char* joined;
    const char* upload;  // JoinedUploadPath, when it differs from the join
  } cases[] = {
      {"C:\\Inetpub\\wwwroot\\app\\", "files/doc.pdf", "C:\\Inetpub\\wwwroot\\app\\files\\doc.pdf", nullptr},
      {"C:\\a\\b", "/top.txt", "C:\\top.txt", "C:\\a\\b\\top.txt"},
      {"C:\\app\\", "\\files\\a.pdf", "C:\\files\\a.pdf", "C:\\app\\files\\a.pdf"},
      {"C:\\app\\", "//files/a.pdf", "C:\\files\\a.pdf", nullptr},
      {"C:\\top.txt", "D:x", "D:\\top.txt\\x", nullptr},
      {"\\\\srv\\share\\dir", "x/./y/../z.txt", "\\\\srv\\share\\dir\\x\\z.txt", nullptr},
      {"\\\\srv\\share\\dir", "\\other", "\\\\srv\\other", "\\\\srv\\share\\dir\\other"},
      {"\\\\srv\\share\\dir", "\\\\host\\c", "\\\\host\\c", "\\\\srv\\host\\c"},
      {"/tmp/x/app/", "files\\doc.pdf", "/tmp/x/app/files/doc.pdf", nullptr},
      {"/tmp/x/app/", "./sub/../../a.txt", "/tmp/x/a.txt", nullptr},
      {"/tmp/x/app/", "../../outside.txt", "/tmp/outside.txt", nullptr},
      {"/tmp/x/app/", "a//b/", "/tmp/x/app/a/b", nullptr},
      {"/tmp/x/app/", "/files/a.pdf", "/files/a.pdf", "/tmp/x/app/files/a.pdf"},
      {"/tmp/x/app/", "//files/a.pdf", "/files/a.pdf", nullptr},
      {"a/b", "/top", "/top", "a/b/top"},
      {"C:\\a", "../../x", "C:\\..\\x", nullptr},
      {"a", "../b", "a\\..\\b", nullptr},
  };
  for (const auto& c : cases) {
    const CFilePath base(c.base);
    const std::string before = base.GetText();
    EXPECT_EQ(c.joined, base.Join(c.text).GetText()) << c.base << " + " << c.text;
    EXPECT_EQ(c.upload ? c.upload : c.joined, JoinedUploadPath(base, c.text)) << c.base << " + " << c.text;
    EXPECT_EQ(before, base.GetText()) << c.base;
  }
  EXPECT_TRUE(CFilePath("/tmp/x/app/").Join("/files/a.pdf").IsAbsolute());
  EXPECT_EQ('/', CFilePath("/tmp/x/app/").Separator());

  EXPECT_EQ("C:\\app\\\\files\\a.pdf", PlainUploadPath("C:\\app\\", "/files/a.pdf"));
  EXPECT_EQ("C:\\appfiles\\a.pdf", PlainUploadPath("C:\\app", "files/a.pdf"));
  EXPECT_EQ("\\tmp\\x\\app\\files\\a.pdf", PlainUploadPath("/tmp/x/app/", "files/a.pdf"));
  EXPECT_EQ("", PlainUploadPath("", ""));
}

}  // namespace
