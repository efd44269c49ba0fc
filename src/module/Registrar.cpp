#include "Registrar.h"

#include <cctype>
#include <optional>
#include <utility>
#include <vector>

#include "../../platform/com/AsciiCase.h"

namespace {

struct Token {
  enum Kind { End, Open, Close, Equals, Word, Quoted } kind = End;
  std::string text;
};

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view script) : m_script(script) {}

  // false on a quoted text without its closing quote.
  bool Next(Token* token) {
    while (m_pos < m_script.size() && std::isspace(static_cast<unsigned char>(m_script[m_pos])))
      ++m_pos;
    token->text.clear();
    if (m_pos >= m_script.size()) {
      token->kind = Token::End;
      return true;
    }
    const char c = m_script[m_pos];
    if (c == '{' || c == '}' || c == '=') {
      token->kind = c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Equals;
      ++m_pos;
      return true;
    }
    if (c == '\'') {
      token->kind = Token::Quoted;
      for (++m_pos; m_pos < m_script.size(); ++m_pos) {
        if (m_script[m_pos] == '\'') {
          if (m_pos + 1 < m_script.size() && m_script[m_pos + 1] == '\'') {
            token->text.push_back('\'');
            ++m_pos;
            continue;
          }
          ++m_pos;
          return true;
        }
        token->text.push_back(m_script[m_pos]);
      }
      return false;
    }
    token->kind = Token::Word;
    while (m_pos < m_script.size()) {
      const char w = m_script[m_pos];
      if (std::isspace(static_cast<unsigned char>(w)) || w == '{' || w == '}' || w == '=' || w == '\'')
        break;
      token->text.push_back(w);
      ++m_pos;
    }
    return true;
  }

 private:
  std::string_view m_script;
  size_t m_pos = 0;
};

struct ScriptKey {
  enum Flag { Normal, NoRemove, ForceRemove } flag = Normal;
  std::string name;
  std::optional<std::string> defaultValue;
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<ScriptKey> subkeys;
};

bool IsKeyword(const Token& t, const char* word) {
  return t.kind == Token::Word && EqualsIgnoringAsciiCase(t.text, word);
}

class Parser {
 public:
  Parser(std::string_view script, const KvRegistrarReplacements& replacements)
      : m_tokens(script), m_replacements(replacements) {}

  bool ParseScript(std::vector<ScriptKey>* keys) {
    if (!Advance()) return false;
    while (m_token.kind != Token::End) {
      if (!IsKeyword(m_token, "HKCR") && !IsKeyword(m_token, "HKEY_CLASSES_ROOT")) return false;
      if (!Advance() || m_token.kind != Token::Open || !Advance()) return false;
      if (!ParseBody(keys, /*valuesAllowed=*/false, nullptr)) return false;
    }
    return true;
  }

 private:
  bool Advance() { return m_tokens.Next(&m_token); }

  // Reads keys (and, inside a key, values) up to and including the closing brace.
  bool ParseBody(std::vector<ScriptKey>* keys, bool valuesAllowed, ScriptKey* owner) {
    while (m_token.kind != Token::Close) {
      if (valuesAllowed && IsKeyword(m_token, "val")) {
        std::string name, text;
        if (!Advance() || !TakeName(&name) || !TakeAssignment(&text)) return false;
        owner->values.emplace_back(std::move(name), std::move(text));
        continue;
      }
      ScriptKey key;
      if (IsKeyword(m_token, "NoRemove")) {
        key.flag = ScriptKey::NoRemove;
        if (!Advance()) return false;
      } else if (IsKeyword(m_token, "ForceRemove")) {
        key.flag = ScriptKey::ForceRemove;
        if (!Advance()) return false;
      }
      if (!TakeName(&key.name)) return false;
      if (m_token.kind == Token::Equals) {
        std::string text;
        if (!TakeAssignment(&text)) return false;
        key.defaultValue = std::move(text);
      }
      if (m_token.kind == Token::Open) {
        if (!Advance() || !ParseBody(&key.subkeys, true, &key)) return false;
      }
      keys->push_back(std::move(key));
    }
    return Advance();  // past the closing brace
  }

  bool TakeName(std::string* name) {
    if (m_token.kind != Token::Word && m_token.kind != Token::Quoted) return false;
    if (!Replace(m_token.text, name) || name->empty() || name->find('\\') != std::string::npos)
      return false;
    return Advance();
  }

  // "= s 'text'"
  bool TakeAssignment(std::string* text) {
    if (m_token.kind != Token::Equals || !Advance()) return false;
    if (!IsKeyword(m_token, "s") || !Advance()) return false;
    if (m_token.kind != Token::Quoted || !Replace(m_token.text, text)) return false;
    return Advance();
  }

  bool Replace(const std::string& in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
      if (in[i] != '%') {
        out->push_back(in[i]);
        continue;
      }
      const size_t close = in.find('%', i + 1);
      if (close == std::string::npos) return false;
      const std::string name = in.substr(i + 1, close - i - 1);
      if (name.empty()) {
        out->push_back('%');
      } else {
        auto it = m_replacements.find(name);
        if (it == m_replacements.end()) return false;
        out->append(it->second);
      }
      i = close;
    }
    return true;
  }

  Tokenizer m_tokens;
  const KvRegistrarReplacements& m_replacements;
  Token m_token;
};

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

HRESULT Register(const ScriptKey& key, const std::string& parent, KvRegistryTransaction& tx) {
  const std::string path = Join(parent, key.name);
  HRESULT hr = S_OK;
  if (key.flag == ScriptKey::ForceRemove) tx.DeleteTree(path);
  if (FAILED(hr = tx.CreateKey(path))) return hr;
  if (key.defaultValue && FAILED(hr = tx.SetValue(path, "", *key.defaultValue))) return hr;
  for (const auto& [name, text] : key.values)
    if (FAILED(hr = tx.SetValue(path, name, text))) return hr;
  for (const ScriptKey& sub : key.subkeys)
    if (FAILED(hr = Register(sub, path, tx))) return hr;
  return S_OK;
}

HRESULT Unregister(const ScriptKey& key, const std::string& parent, KvRegistryTransaction& tx) {
  const std::string path = Join(parent, key.name);
  if (!tx.Tree().Find(path)) return S_OK;
  if (key.flag == ScriptKey::ForceRemove) return tx.DeleteTree(path);
  for (const ScriptKey& sub : key.subkeys) {
    HRESULT hr = Unregister(sub, path, tx);
    if (FAILED(hr)) return hr;
  }
  for (const auto& value : key.values) {
    HRESULT hr = tx.DeleteValue(path, value.first);
    if (FAILED(hr)) return hr;
  }
  if (key.flag == ScriptKey::NoRemove) return S_OK;
  // A key that still has subkeys holds someone else's registration.
  if (!tx.Tree().Find(path)->subkeys.empty()) return S_OK;
  return tx.DeleteTree(path);
}

}  // namespace

HRESULT KvRegistrarApply(std::string_view script, const KvRegistrarReplacements& replacements,
                         bool unregister, KvRegistryTransaction& tx) {
  std::vector<ScriptKey> keys;
  Parser parser(script, replacements);
  if (!parser.ParseScript(&keys)) return E_INVALIDARG;
  for (const ScriptKey& key : keys) {
    HRESULT hr = unregister ? Unregister(key, std::string(), tx) : Register(key, std::string(), tx);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
