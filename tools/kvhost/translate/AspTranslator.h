// Turns a server page (HTML with <% code %>, <%= expression %>, the
// <%@ Language="JScript" %> directive and <!-- #include file|virtual="" -->)
// into one script for the engine, with a map back to the page lines.
#pragma once

#include <string>
#include <vector>

#include "base/FileStamp.h"
#include "translate/ScriptSourceMap.h"

struct TranslatedPage {
  std::string script;
  ScriptSourceMap map;
  // Every file the script was made from, stamped before it was read.
  std::vector<FileStamp> files;
};

// Reads files below the site root.
class AspTranslator {
 public:
  // rootDirectory: the canonical site root, without a trailing '/'.
  explicit AspTranslator(std::string rootDirectory) : m_root(std::move(rootDirectory)) {}

  // virtualPath: "/dir/page.asp". False with *error when a file cannot be
  // read, an include leads outside the root or loops, or the page asks for
  // a language other than JScript.
  bool Translate(const std::string& virtualPath, TranslatedPage* page, std::string* error) const;

 private:
  bool TranslateFile(const std::string& virtualPath, int depth, TranslatedPage* page,
                     std::string* error) const;
  std::string m_root;
};
