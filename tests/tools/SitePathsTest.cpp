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
      {"", true},
      {"/", true},
      {"/sub/../style.css", true},  // the caller refuses dot segments, not this
      {"/alias-dir/index.html", true},
      {"/link-out.txt", false},
      {"/dir-out/secret.txt", false},
      {"/../secret.txt", false},
      {"-other/f.txt", false},  // joined as text, it names the sibling
      {"/prefix.txt", false},
      {"/missing.txt", false},
      {"/dangling.txt", false},
  };
  for (const auto& [path, inside] : cases) {
    fs::path resolved = "untouched";
    EXPECT_EQ(ResolveInsideRoot(m_root, path, &resolved), inside) << path;
    if (inside) {
      EXPECT_EQ(resolved, fs::canonical(m_root + path)) << path;
    } else {
      EXPECT_EQ(resolved, "untouched") << path;
    }
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
    std::string out = "stale";
    EXPECT_EQ(NormalizeVirtualPath(path, &out), expected != nullptr) << path;
    if (expected) {
      EXPECT_EQ(out, expected) << path;
    }
  }

  struct Relative {
    const char* page;
    std::string_view path;
    const char* expected;
  };
  const Relative relative[] = {
      {"/dir/page.asp", "img/x.png", "/dir/img/x.png"},
      {"/dir/page.asp", "../x.png", "/x.png"},
      {"/dir/page.asp", "../../x.png", nullptr},
      {"/dir/page.asp", "/abs/x.png", "/abs/x.png"},
      {"/dir/page.asp", "", "/dir/"},
      {"/dir/page.asp", ".", "/dir"},
      {"/page.asp", "..", nullptr},
      {"page.asp", "x.png", "/x.png"},
  };
  for (const Relative& r : relative) {
    std::string out;
    EXPECT_EQ(ResolveVirtualPath(r.page, r.path, &out), r.expected != nullptr) << r.page << " + " << r.path;
    if (r.expected) {
      EXPECT_EQ(out, r.expected) << r.page << " + " << r.path;
    }
  }

  // Server.MapPath: below the root, never above it, no backslash or NUL
  // that a file service might take for a separator or an end.
  const Relative mapped[] = {
      {"/dir/page.asp", "img/x.png", "/srv/site/dir/img/x.png"},
      {"/dir/page.asp", "/", "/srv/site"},
      {"/dir/page.asp", "../..", nullptr},
      {"/dir/page.asp", "..\\..\\x", nullptr},
      {"/dir/page.asp", "x\0y"sv, nullptr},
  };
  for (const Relative& m : mapped) {
    for (const char* root : {"/srv/site", "/srv/site//"}) {
      std::string out;
      EXPECT_EQ(MapVirtualPath(root, m.page, m.path, &out), m.expected != nullptr) << root << " " << m.path;
      if (m.expected) {
        EXPECT_EQ(out, m.expected) << root << " " << m.path;
      }
    }
  }
}

}  // namespace
