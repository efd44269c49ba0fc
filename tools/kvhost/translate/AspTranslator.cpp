#include "translate/AspTranslator.h"

#include <filesystem>
#include <regex>

#include "base/FileText.h"
#include "base/VirtualPaths.h"
#include "platform/com/AsciiCase.h"
#include "translate/ValueAssignments.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxIncludeDepth = 16;

// A JScript string literal holding text.
std::string QuoteScriptString(std::string_view text) {
  static const char* kHex = "0123456789abcdef";
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xE2 && text.substr(i + 1, 1) == "\x80" && i + 2 < text.size() &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      // The line and paragraph separators end a line inside script source.
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Appends to the script and records where every script line came from.
class ScriptEmitter {
 public:
  ScriptEmitter(TranslatedPage* page, std::string file) : m_page(page), m_file(std::move(file)) {}

  long Line() const { return m_line; }
  // Every file starts on a fresh script line of its own.
  void StartLine() { m_page->map.ReplaceLastLine(m_file, m_line); }
  // A script line break that stays on the current page line.
  void Break() {
    m_page->script += '\n';
    m_page->map.AddLine(m_file, m_line);
  }
  // Page text that is script as it stands.
  void Code(std::string_view code) {
    for (char c : code) {
      m_page->script += c;
      if (c == '\n') m_page->map.AddLine(m_file, ++m_line);
    }
  }
  void Literal(std::string_view text) {
    while (!text.empty()) {
      size_t newline = text.find('\n');
      std::string_view piece = text.substr(0, newline == std::string_view::npos ? text.size() : newline + 1);
      m_page->script += "Response.Write(" + QuoteScriptString(piece) + ");";
      text.remove_prefix(piece.size());
      if (newline != std::string_view::npos) {
        m_page->script += '\n';
        m_page->map.AddLine(m_file, ++m_line);
      }
    }
  }
  // Page text skipped over (a directive, an include): only its lines count.
  void Skip(std::string_view text) {
    for (char c : text)
      if (c == '\n') ++m_line;
  }
  // Resumes the page's lines after an included file.
  void Resume() { Break(); }

 private:
  TranslatedPage* m_page;
  std::string m_file;
  long m_line = 1;
};

bool IsScriptLanguage(const std::string& language) {
  return EqualsIgnoringAsciiCase(language, "jscript") || EqualsIgnoringAsciiCase(language, "javascript") ||
         EqualsIgnoringAsciiCase(language, "ecmascript");
}

// The Language of a directive's text; "" when it names none.
std::string DirectiveLanguage(const std::string& directive) {
  static const std::regex kLanguage(R"re(language\s*=\s*"?([A-Za-z0-9_.]*)"?)re", std::regex::icase);
  std::smatch match;
  return std::regex_search(directive, match, kLanguage) ? match[1].str() : "";
}

}  // namespace

bool AspTranslator::Translate(const std::string& virtualPath, TranslatedPage* page,
                              std::string* error) const {
  return TranslateFile(virtualPath, 0, page, error);
}

bool AspTranslator::TranslateFile(const std::string& virtualPath, int depth, TranslatedPage* page,
                                  std::string* error) const {
  std::string text;
  FileStamp stamp;
  fs::path resolved;
  std::error_code ec;
  if (!FileStamp::Take(m_root + virtualPath, &stamp) || !ResolveInsideRoot(m_root, virtualPath, &resolved) ||
      !fs::is_regular_file(resolved, ec) || !ReadWholeFile(resolved.native(), &text)) {
    *error = "cannot read " + virtualPath;
    return false;
  }
  page->files.push_back(std::move(stamp));
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  static const std::regex kInclude(R"re(^<!--\s*#include\s+(file|virtual)\s*=\s*"([^"]*)"\s*-->)re",
                                   std::regex::icase);
  ScriptEmitter out(page, virtualPath);
  out.StartLine();
  std::string_view rest(text);
  auto failAt = [&](const std::string& message) {
    *error = virtualPath + ":" + std::to_string(out.Line()) + ": " + message;
    return false;
  };
  while (!rest.empty()) {
    size_t next = std::min(rest.find("<%"), rest.find("<!--"));
    out.Literal(rest.substr(0, std::min(next, rest.size())));
    if (next == std::string_view::npos) break;
    rest.remove_prefix(next);
    if (rest.compare(0, 4, "<!--") == 0) {
      std::cmatch match;
      if (!std::regex_search(rest.data(), rest.data() + rest.size(), match, kInclude)) {
        out.Literal("<!--");
        rest.remove_prefix(4);
        continue;
      }
      std::string target;
      const bool isVirtual = LowerAsciiChar(match[1].str()[0]) == 'v';
      if (!ResolveVirtualPath(isVirtual ? "/" : virtualPath, match[2].str(), &target))
        return failAt("the include " + match[2].str() + " leads outside the site");
      if (depth + 1 > kMaxIncludeDepth) return failAt("includes nested too deeply (do they include each other?)");
      out.Skip(std::string_view(rest.data(), static_cast<size_t>(match.length(0))));
      out.Break();
      if (!TranslateFile(target, depth + 1, page, error)) return false;
      out.Resume();
      rest.remove_prefix(static_cast<size_t>(match.length(0)));
      continue;
    }
    size_t close = rest.find("%>");
    if (close == std::string_view::npos) return failAt("a <% block is not closed with %>");
    std::string_view block = rest.substr(2, close - 2);
    if (!block.empty() && block[0] == '@') {
      std::string language = DirectiveLanguage(std::string(block.substr(1)));
      if (!language.empty() && !IsScriptLanguage(language))
        return failAt("pages are written in JScript; the language " + language + " is not supported");
      out.Skip(block);
    } else if (!block.empty() && block[0] == '=') {
      out.Code("Response.Write(");
      out.Code(block.substr(1));
      out.Break();
      out.Code(");");
    } else {
      out.Code(RewriteValueAssignments(block));
      out.Break();
    }
    rest.remove_prefix(close + 2);
  }
  return true;
}
