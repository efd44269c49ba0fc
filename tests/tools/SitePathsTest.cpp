// Which file a request path reaches, on a real directory tree with real
// symlinks: nothing outside the root, no dot-file and no page source or
// include file is ever a file to send, however the path is spelled.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "base/VirtualPaths.h"
#include "http/SiteFiles.h"
#include "page/FormCoding.h"
#include "tests/fixture/TempDir.h"

namespace fs = std::filesystem;
using namespace std::literals;

namespace {

// <tmp>/secret.txt and <tmp>/site-other/f.txt lie outside the root
// <tmp>/site; site-other starts with the root's own name.
class SitePaths : public ::testing::Test {
 protected:
  SitePaths() {
    for (const char* name : {"index.html", "page.asp", "loud.ASP", "style.css", "global.asa", "inc/head.inc",
                             "inc/Foot.INC", ".hidden", ".git/config", "sub/index.html", "sub/deeper/x.txt",
                             "both/default.asp", "both/index.html", "\xC3\xBC.txt"})
      m_tmp.Write("site/"s + name, name);
    m_tmp.Write("secret.txt", "secret");
    m_tmp.Write("site-other/f.txt", "other");
    const std::pair<const char*, const char*> links[] = {
        {"link-out.txt", "../secret.txt"}, {"dir-out", ".."},           {"prefix.txt", "../site-other/f.txt"},
        {"link-dot.txt", ".hidden"},       {"git-link", ".git"},        {"link-source.txt", "page.asp"},
        {"link-inc.txt", "inc/head.inc"},  {"dangling.txt", "nowhere"}, {"alias-dir", "sub"},
    };
    for (const auto& [name, target] : links) fs::create_symlink(target, m_tmp / ("site/"s + name));
    mkfifo((m_tmp / "site/fifo").c_str(), 0600);
    m_root = fs::canonical(m_tmp / "site").string();
  }

  TempDir m_tmp;
  std::string m_root;
};

struct SiteCase {
  const char* raw;  // decoded as the server decodes it
  SiteTarget::Kind kind;
  std::string virtualPath = "";  // of pages, files and AddSlash; else not checked
};

TEST_F(SitePaths, ResolveSendsOnlyPlainFilesInsideTheRootAndRunsOnlyPages) {
  const SiteTarget::Kind F = SiteTarget::File, P = SiteTarget::Page, X = SiteTarget::Forbidden,
                         N = SiteTarget::NotFound, S = SiteTarget::AddSlash;
  const SiteCase cases[] = {
      {"/style.css", F, "/style.css"}, {"/%C3%BC.txt", F, "/\xC3\xBC.txt"},
      {"/page.asp", P, "/page.asp"}, {"/loud.ASP", P, "/loud.ASP"},
      // Include files, the application file and dot-files, in any case.
      {"/inc/head.inc", X}, {"/inc/Foot.INC", X}, {"/global.asa", X}, {"/.hidden", X}, {"/.git/config", X},
      // Dot segments and separators hidden in escapes, whether or not they
      // would lead out.
      {"/sub/./index.html", X}, {"/sub/../style.css", X}, {"/%2e%2e/secret.txt", X}, {"/..%2fsecret.txt", X},
      {"/sub%2Findex.html", X}, {"/sub%5cindex.html", X}, {"/style.css%00.png", X}, {"/page.asp::$DATA", X},
      {"//etc/passwd", X}, {"style.css", X}, {"", X},
      // Names a file system elsewhere would take for the page.
      {"/page.asp.", N}, {"/page.asp%20", N}, {"/page.asp/", N}, {"/style.css/", N}, {"/%252e%252e/secret.txt", N},
      // Directories: the slash first, then default.asp before index.html,
      // and no listing.
      {"/sub", S, "/sub/"}, {"/sub/", F, "/sub/index.html"}, {"/", F, "/index.html"},
      {"/both/", P, "/both/default.asp"}, {"/sub/deeper", S, "/sub/deeper/"}, {"/sub/deeper/", N},
      // Symlinks: out of the root (also into a sibling whose name starts
      // with the root's), onto dot-files, page sources and includes.
      {"/link-out.txt", X}, {"/dir-out", X}, {"/dir-out/secret.txt", X}, {"/prefix.txt", X}, {"/link-dot.txt", X},
      {"/git-link/config", X}, {"/link-source.txt", X}, {"/link-inc.txt", X}, {"/dangling.txt", N},
      {"/alias-dir/index.html", F, "/alias-dir/index.html"},
      // Only regular files: a reader would wait on a pipe for ever.
      {"/fifo", N}, {"/missing.txt", N},
  };
  const SiteFiles site(m_tmp / "site");
  EXPECT_EQ(site.Root(), m_root);
  for (const SiteCase& c : cases) {
    std::string decoded;
    ASSERT_TRUE(UrlDecode(c.raw, false, &decoded)) << c.raw;
    const SiteTarget target = site.Resolve(c.raw, decoded);
    EXPECT_EQ(target.kind, c.kind) << c.raw;
    if (!c.virtualPath.empty()) {
      EXPECT_EQ(target.virtualPath, c.virtualPath) << c.raw;
    }
    // The file sent is the one a link leads to, named canonically.
    EXPECT_EQ(target.filePath, c.kind == F ? fs::canonical(m_root + c.virtualPath).string() : "") << c.raw;
  }
}

TEST_F(SitePaths, ResolveInsideRootFollowsLinksAndComparesWholeNames) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},  {"/", true}, {"/sub/../style.css", true},  // the caller refuses dot segments, not this
      {"/../secret.txt", false}, {"/dir-out/secret.txt", false},
      {"-other/f.txt", false},  // joined as text, it would name the sibling
  };
  for (const auto& [path, inside] : cases) {
    fs::path resolved = "untouched";
    EXPECT_EQ(ResolveInsideRoot(m_root, path, &resolved), inside) << path;
    EXPECT_EQ(resolved, inside ? fs::canonical(m_root + path) : fs::path("untouched")) << path;
  }
}

// A site rooted at "/" holds every path, and still refuses dot segments.
TEST_F(SitePaths, ARootOfSlashHoldsEveryPath) {
  fs::path resolved;
  EXPECT_TRUE(ResolveInsideRoot("/", m_root + "/style.css", &resolved));
  EXPECT_EQ(resolved, fs::canonical(m_root + "/style.css"));
  SiteFiles site("/");
  const SiteTarget file = site.Resolve(m_root + "/style.css", m_root + "/style.css");
  EXPECT_EQ(file.kind, SiteTarget::File);
  EXPECT_EQ(file.filePath, fs::canonical(m_root + "/style.css").string());
  EXPECT_EQ(site.Resolve(m_root + "/../x", m_root + "/../x").kind, SiteTarget::Forbidden);
}

// ok and out against expected, nullptr for a refusal.
void ExpectPath(bool ok, const std::string& out, const char* expected, std::string_view what) {
  EXPECT_EQ(ok, expected != nullptr) << what;
  if (expected) {
    EXPECT_EQ(out, expected) << what;
  }
}

TEST(VirtualPaths, DotSegmentsResolveAndNothingClimbsAboveTheRoot) {
  const std::pair<const char*, const char*> normalized[] = {
      {"/a/./b/../c", "/a/c"}, {"/", "/"},         {"", "/"},           {"//a///b", "/a/b"},
      {"/a/b/", "/a/b/"},      {"/a/..", "/"},     {"/a/../", "/"},     {"/a/b/..", "/a"},
      {"/...", "/..."},        {"/a/.b", "/a/.b"}, {"/..", nullptr},    {"/a/../..", nullptr},
      {"/../a", nullptr},      {"a/b", "/a/b"},
  };
  for (const auto& [path, expected] : normalized) {
    std::string out;
    ExpectPath(NormalizeVirtualPath(path, &out), out, expected, path);
  }

  // Seen from the page /dir/page.asp, and Server.MapPath there: below the
  // root, never above it, no backslash or NUL that a file service might
  // take for a separator or an end.
  const std::pair<std::string_view, const char*> relative[] = {
      {"img/x.png", "/dir/img/x.png"}, {"../x.png", "/x.png"}, {"../../x.png", nullptr},
      {"/abs/x.png", "/abs/x.png"},    {"", "/dir/"},          {".", "/dir"},
  };
  for (const auto& [path, expected] : relative) {
    std::string out;
    ExpectPath(ResolveVirtualPath("/dir/page.asp", path, &out), out, expected, path);
  }
  std::string out;
  ExpectPath(ResolveVirtualPath("page.asp", "x.png", &out), out, "/x.png", "a page path without '/'");
  const std::pair<std::string_view, const char*> mapped[] = {
      {"img/x.png", "/srv/site/dir/img/x.png"}, {"/", "/srv/site"},  {"../..", nullptr},
      {"..\\..\\x", nullptr},                 {"x\0y"sv, nullptr},
  };
  for (const auto& [path, expected] : mapped)
    for (const char* root : {"/srv/site", "/srv/site//"})
      ExpectPath(MapVirtualPath(root, "/dir/page.asp", path, &out), out, expected, std::string(root).append(path));
}

}  // namespace
