// Which file of the site a request path names, and whether it may be
// answered at all. Nothing outside the root is ever reached: dot segments
// and encoded separators are refused before the file system is asked, and
// the resolved path (symlinks followed) must still lie inside the root.
// Page sources (.asp), include files (.inc) and dot-files are never sent as
// they are.
#pragma once

#include <string>
#include <string_view>

struct SiteTarget {
  enum Kind {
    NotFound,
    Forbidden,
    AddSlash,  // a directory named without its trailing '/'
    Page,      // a server page to run
    File,      // a static file to send
  };
  Kind kind = NotFound;
  std::string virtualPath;  // "/dir/page.asp" for pages and files
  std::string filePath;     // the file, for static files
};

class SiteFiles {
 public:
  // root: an existing directory (made canonical here).
  explicit SiteFiles(const std::string& root);
  const std::string& Root() const { return m_root; }

  // rawPath: the path of the request target as sent, still %-encoded;
  // decodedPath: the same decoded.
  SiteTarget Resolve(std::string_view rawPath, std::string_view decodedPath) const;

 private:
  std::string m_root;
};

// The Content-Type of a static file by its extension.
std::string ContentTypeOf(std::string_view path);
