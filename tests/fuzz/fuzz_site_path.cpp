// Which file of a site a request path reaches, on a real tree with links
// out of the root and onto dot-files, page sources and include files:
// whatever the path as sent and as decoded, no file outside the root, no
// dot-file and no page source or include file is ever sent as it is, and
// a page or a redirect stays inside the site.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "base/VirtualPaths.h"
#include "http/SiteFiles.h"
#include "page/FormCoding.h"
#include "platform/com/AsciiCase.h"

namespace fs = std::filesystem;

namespace {

// <tmp>/site is the root; <tmp>/secret.txt, <tmp>/site.asp and
// <tmp>/site-other lie outside it.
std::string MakeTree() {
  std::string top = (fs::temp_directory_path() / "kvfuzz-site-XXXXXX").string();
  if (!mkdtemp(top.data())) std::abort();
  for (const char* name : {"site/index.html", "site/page.asp", "site/Loud.ASP", "site/style.css", "site/global.asa",
                           "site/inc/head.inc", "site/.hidden", "site/.git/config", "site/sub/index.html",
                           "site/sub/default.asp", "site/sub/deeper/x.txt", "secret.txt", "site.asp",
                           "site-other/f.txt"}) {
    fs::create_directories((fs::path(top) / name).parent_path());
    std::ofstream(fs::path(top) / name) << name;
  }
  for (const auto& [name, target] : {std::pair{"out.txt", "../secret.txt"}, {"out", ".."}, {"dot.txt", ".hidden"},
                                     {"prefix.txt", "../site-other/f.txt"}, {"git", ".git"}, {"sub/up", ".."},
                                     {"source.txt", "page.asp"}, {"inc.txt", "inc/head.inc"}, {"alias", "sub"},
                                     {"asa.txt", "global.asa"}, {"outpage.asp", "../site.asp"}, {"loop", "loop"},
                                     {"dotpage.asp", ".hidden"}})
    fs::create_symlink(target, fs::path(top) / "site" / name);
  mkfifo((fs::path(top) / "site/fifo").c_str(), 0600);
  return top;
}

struct Site {
  std::string top = MakeTree();
  SiteFiles files{top + "/site"};
  ~Site() {
    std::error_code ec;
    fs::remove_all(top, ec);
  }
};

// Every name below the root is a plain one: not empty, not a dot-file.
bool PlainBelowRoot(const std::string& root, const std::string& path) {
  if (path.compare(0, root.size() + 1, root + "/") != 0) return false;
  for (const auto& part : fs::path(path.substr(root.size() + 1)))
    if (part.empty() || part.native()[0] == '.') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Site site;
  const std::string& root = site.files.Root();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // "raw\ndecoded" tries the two apart, as no server would send them;
  // otherwise the path is decoded as the server decodes it.
  const size_t newline = input.find('\n');
  const std::string_view raw = input.substr(0, newline);
  std::string decoded;
  if (newline != std::string_view::npos) {
    decoded = input.substr(newline + 1);
  } else if (!UrlDecode(raw, false, &decoded)) {
    return 0;
  }
  const SiteTarget target = site.files.Resolve(raw, decoded);
  switch (target.kind) {
    case SiteTarget::File: {
      FUZZ_CHECK(target.filePath == fs::canonical(target.filePath).string());
      FUZZ_CHECK(PlainBelowRoot(root, target.filePath));
      const std::string extension = LowerAscii(fs::path(target.filePath).extension().string());
      FUZZ_CHECK(extension != ".asp" && extension != ".inc" && extension != ".asa");
      FUZZ_CHECK(fs::is_regular_file(target.filePath));
      break;
    }
    case SiteTarget::Page: {
      // The page is read through its virtual path: it must lead inside.
      fs::path resolved;
      FUZZ_CHECK(ResolveInsideRoot(root, target.virtualPath, &resolved));
      FUZZ_CHECK(PlainBelowRoot(root, resolved.string()));
      FUZZ_CHECK(LowerAscii(target.virtualPath).ends_with(".asp"));
      break;
    }
    case SiteTarget::AddSlash:
      // Sent back as Location: a path of this site, never "//host".
      FUZZ_CHECK(target.virtualPath.size() >= 2 && target.virtualPath[0] == '/' && target.virtualPath[1] != '/');
      FUZZ_CHECK(target.virtualPath.find_first_of("\\\r\n") == std::string::npos);
      break;
    case SiteTarget::Forbidden:
    case SiteTarget::NotFound:
      FUZZ_CHECK(target.filePath.empty());
      break;
  }
  return 0;
}
