// Registration scripts: tokenizer, parser into a key tree, and the two walks (register,
// unregister) that turn the tree into one RegistryEdit.
#include "kx/platform/regscript.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>

namespace kx::platform {
namespace {

constexpr int kMaxKeyDepth = 512;               // the registry's own limits
constexpr std::size_t kMaxKeyNameLength = 255;

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= text.size()) return false;  // cut short
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

// ---- tokens ----

enum class TokenKind { kWord, kQuoted, kOpen, kClose, kEquals, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  int line = 0;
};

class Failure {
 public:
  Failure(int line, std::string message) : line_(line), message_(std::move(message)) {}
  [[nodiscard]] std::string Describe() const {
    return "line " + std::to_string(line_) + ": " + message_;
  }

 private:
  int line_;
  std::string message_;
};

bool IsWordChar(char c) {
  return !std::isspace(static_cast<unsigned char>(c)) && c != '=' && c != '\'';
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> tokens;
  int line = 1;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (c == '{' && i + 1 < s.size() && IsWordChar(s[i + 1]) && s[i + 1] != '{' &&
               s[i + 1] != '}') {
      // A bare {GUID} is a name: the brace touches it, where a block's brace stands apart.
      Token t{TokenKind::kWord, {}, line};
      while (i < s.size() && IsWordChar(s[i]) && s[i] != '}') t.text.push_back(s[i++]);
      if (i < s.size() && s[i] == '}') t.text.push_back(s[i++]);
      tokens.push_back(std::move(t));
    } else if (c == '{' || c == '}' || c == '=') {
      tokens.push_back({c == '{'   ? TokenKind::kOpen
                        : c == '}' ? TokenKind::kClose
                                   : TokenKind::kEquals,
                        {},
                        line});
      ++i;
    } else if (c == '\'') {
      Token t{TokenKind::kQuoted, {}, line};
      ++i;
      for (;;) {
        if (i >= s.size()) throw Failure(t.line, "text in quotes is not closed");
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {  // '' is one quote
            t.text.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (s[i] == '\n') ++line;
        t.text.push_back(s[i++]);
      }
      tokens.push_back(std::move(t));
    } else {
      Token t{TokenKind::kWord, {}, line};
      while (i < s.size() && IsWordChar(s[i]) && s[i] != '{' && s[i] != '}')
        t.text.push_back(s[i++]);
      tokens.push_back(std::move(t));
    }
  }
  tokens.push_back({TokenKind::kEnd, {}, line});
  return tokens;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// ---- the tree ----

struct ScriptValue {
  std::string name;
  DWORD type = REG_SZ;
  std::string text;
  DWORD number = 0;
};

enum class KeyFlag { kNone, kForceRemove, kNoRemove, kDelete };

struct ScriptKey {
  std::string name;
  KeyFlag flag = KeyFlag::kNone;
  std::optional<ScriptValue> default_value;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> keys;
};

struct ScriptRoot {
  HKEY root = nullptr;
  std::vector<ScriptKey> keys;
};

class Parser {
 public:
  Parser(std::vector<Token> tokens, const RegScriptVariables& variables)
      : tokens_(std::move(tokens)), variables_(variables) {}

  std::vector<ScriptRoot> Parse() {
    std::vector<ScriptRoot> roots;
    while (Peek().kind != TokenKind::kEnd) {
      const Token& name = Next();
      ScriptRoot root;
      if (name.kind != TokenKind::kWord) throw Failure(name.line, "a root key name was expected");
      if (EqualsNoCase(name.text, "HKCR") || EqualsNoCase(name.text, "HKEY_CLASSES_ROOT")) {
        root.root = HKEY_CLASSES_ROOT;
      } else if (EqualsNoCase(name.text, "HKCU") || EqualsNoCase(name.text, "HKEY_CURRENT_USER")) {
        root.root = HKEY_CURRENT_USER;
      } else {
        throw Failure(name.line, "unknown root key '" + name.text + "'");
      }
      Expect(TokenKind::kOpen, "'{' after the root key");
      while (Peek().kind != TokenKind::kClose) {
        if (Peek().kind == TokenKind::kEnd) throw Failure(Peek().line, "'}' missing at the end");
        if (Peek().kind == TokenKind::kWord && EqualsNoCase(Peek().text, "val")) {
          throw Failure(Peek().line, "a root key takes no values");
        }
        root.keys.push_back(ParseKey(1));
      }
      Next();
      roots.push_back(std::move(root));
    }
    return roots;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

  void Expect(TokenKind kind, const char* what) {
    const Token& t = Next();
    if (t.kind != kind) throw Failure(t.line, std::string("expected ") + what);
  }

  std::string Substitute(const Token& t) const {
    std::string out;
    for (std::size_t i = 0; i < t.text.size(); ++i) {
      if (t.text[i] != '%') {
        out.push_back(t.text[i]);
        continue;
      }
      std::size_t end = t.text.find('%', i + 1);
      if (end == std::string::npos) throw Failure(t.line, "a '%' without its closing '%'");
      std::string_view name(t.text.data() + i + 1, end - i - 1);
      if (name.empty()) {
        out.push_back('%');  // %% is one percent sign
      } else {
        bool found = false;
        for (const auto& [var, value] : variables_) {
          if (EqualsNoCase(var, name)) {
            out += value;
            found = true;
            break;
          }
        }
        if (!found) throw Failure(t.line, "unknown variable %" + std::string(name) + "%");
      }
      i = end;
    }
    // The registry stores UTF-8 only; a script that checks must be one that can be stored.
    if (!IsUtf8(out)) throw Failure(t.line, "a name or text is not UTF-8");
    return out;
  }

  std::string ParseName(const char* what) {
    const Token& t = Next();
    if (t.kind != TokenKind::kWord && t.kind != TokenKind::kQuoted)
      throw Failure(t.line, std::string("expected ") + what);
    std::string name = Substitute(t);
    if (name.find('\\') != std::string::npos)
      throw Failure(t.line, "a key name holds no '\\': nest the keys instead");
    return name;
  }

  // "= s 'text'" or "= d 'number'", the '=' already consumed.
  void ParseData(ScriptValue* v) {
    const Token& type = Next();
    if (type.kind != TokenKind::kWord ||
        (!EqualsNoCase(type.text, "s") && !EqualsNoCase(type.text, "d"))) {
      throw Failure(type.line, "expected the value type s (text) or d (number)");
    }
    const Token& data = Next();
    if (data.kind != TokenKind::kQuoted && data.kind != TokenKind::kWord) {
      throw Failure(data.line, "expected the value in quotes");
    }
    std::string text = Substitute(data);
    if (EqualsNoCase(type.text, "s")) {
      v->type = REG_SZ;
      v->text = std::move(text);
      return;
    }
    v->type = REG_DWORD;
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16;
      digits.remove_prefix(2);
    }
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v->number, base);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
      throw Failure(data.line, "'" + text + "' is not a 32-bit unsigned number");
    }
  }

  ScriptKey ParseKey(int depth) {
    // The registry nests keys 512 deep at most; the limit also bounds this recursion.
    if (depth > kMaxKeyDepth) throw Failure(Peek().line, "keys nest deeper than 512");
    ScriptKey key;
    while (Peek().kind == TokenKind::kWord) {
      if (EqualsNoCase(Peek().text, "ForceRemove")) {
        SetFlag(&key, KeyFlag::kForceRemove);
      } else if (EqualsNoCase(Peek().text, "NoRemove")) {
        SetFlag(&key, KeyFlag::kNoRemove);
      } else if (EqualsNoCase(Peek().text, "Delete")) {
        SetFlag(&key, KeyFlag::kDelete);
      } else {
        break;
      }
    }
    key.name = ParseName("a key name");
    if (key.name.empty()) throw Failure(Peek().line, "a key name is empty");
    if (key.name.size() > kMaxKeyNameLength) {
      throw Failure(Peek().line, "a key name is longer than 255 characters");
    }
    if (Peek().kind == TokenKind::kEquals) {
      Next();
      key.default_value.emplace();
      ParseData(&*key.default_value);
    }
    if (Peek().kind == TokenKind::kOpen) {
      Next();
      while (Peek().kind != TokenKind::kClose) {
        if (Peek().kind == TokenKind::kEnd) throw Failure(Peek().line, "'}' missing at the end");
        if (Peek().kind == TokenKind::kWord && EqualsNoCase(Peek().text, "val")) {
          Next();
          ScriptValue v;
          v.name = ParseName("a value name");
          Expect(TokenKind::kEquals, "'=' after the value name");
          ParseData(&v);
          key.values.push_back(std::move(v));
        } else {
          key.keys.push_back(ParseKey(depth + 1));
        }
      }
      Next();
    }
    return key;
  }

  void SetFlag(ScriptKey* key, KeyFlag flag) {
    if (key->flag != KeyFlag::kNone)
      throw Failure(Peek().line, "a key takes one of ForceRemove, NoRemove, Delete");
    key->flag = flag;
    Next();
  }

  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  const RegScriptVariables& variables_;
};

// ---- the walks ----

void SetValue(RegistryEdit& edit, HKEY root, const std::string& path, const ScriptValue& v,
              std::string_view name) {
  if (v.type == REG_DWORD) {
    edit.SetDword(root, path, name, v.number);
  } else {
    edit.SetString(root, path, name, v.text);
  }
}

void Register(RegistryEdit& edit, HKEY root, const std::string& parent, const ScriptKey& key) {
  const std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
  if (key.flag == KeyFlag::kDelete) {
    edit.DeleteTree(root, path);
    return;
  }
  if (key.flag == KeyFlag::kForceRemove) edit.DeleteTree(root, path);  // replaced whole
  edit.CreateKey(root, path);
  if (key.default_value) SetValue(edit, root, path, *key.default_value, {});
  for (const ScriptValue& v : key.values) SetValue(edit, root, path, v, v.name);
  for (const ScriptKey& child : key.keys) Register(edit, root, path, child);
}

void Unregister(RegistryEdit& edit, HKEY root, const std::string& parent, const ScriptKey& key) {
  const std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
  switch (key.flag) {
    case KeyFlag::kDelete:
      return;
    case KeyFlag::kForceRemove:
      edit.DeleteTree(root, path);
      return;
    case KeyFlag::kNoRemove:
      for (const ScriptKey& child : key.keys) Unregister(edit, root, path, child);
      return;
    case KeyFlag::kNone:
      for (const ScriptKey& child : key.keys) Unregister(edit, root, path, child);
      for (const ScriptValue& v : key.values) edit.DeleteValue(root, path, v.name);
      edit.DeleteKeyIfNoSubkeys(root, path);  // another owner's subkey keeps it
      return;
  }
}

std::string VersionKey(const TypeLibRegistration& lib) {
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", static_cast<unsigned>(lib.major_version),
                static_cast<unsigned>(lib.minor_version));
  return version;
}

std::string LcidKey(LCID lcid) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(lcid));
  return text;
}

std::string Directory(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The platform's marshaler for dual and dispatch interfaces.
constexpr const char* kOleAutomationProxy = "{00020424-0000-0000-C000-000000000046}";

}  // namespace

HRESULT AddRegistrationScript(RegistryEdit& edit, std::string_view script,
                              const RegScriptVariables& variables, RegScriptMode mode,
                              std::string* diagnostic) {
  try {
    Parser parser(Tokenize(script), variables);
    std::vector<ScriptRoot> roots = parser.Parse();
    for (const ScriptRoot& root : roots) {
      for (const ScriptKey& key : root.keys) {
        if (mode == RegScriptMode::kRegister) {
          Register(edit, root.root, {}, key);
        } else {
          Unregister(edit, root.root, {}, key);
        }
      }
    }
    return S_OK;
  } catch (const Failure& f) {
    if (diagnostic) *diagnostic = f.Describe();
    return E_INVALIDARG;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RunRegistrationScript(std::string_view script, const RegScriptVariables& variables,
                              RegScriptMode mode, std::string* diagnostic) {
  RegistryEdit edit;
  if (HRESULT hr = AddRegistrationScript(edit, script, variables, mode, diagnostic); FAILED(hr))
    return hr;
  LSTATUS status = edit.Commit();
  if (status != ERROR_SUCCESS && diagnostic)
    *diagnostic = "registry error " + std::to_string(status);
  return HresultFromRegistryError(status);
}

void AddTypeLibRegistration(RegistryEdit& edit, const TypeLibRegistration& lib) {
  const std::string libid = FormatGuid(lib.libid);
  const std::string base = "TypeLib\\" + libid + "\\" + VersionKey(lib);
  edit.DeleteTree(HKEY_CLASSES_ROOT, base);  // no stale locale entries from an earlier build
  edit.SetString(HKEY_CLASSES_ROOT, base, {}, lib.help_string);
  edit.SetString(HKEY_CLASSES_ROOT, base + "\\FLAGS", {}, std::to_string(lib.flags));
  edit.SetString(HKEY_CLASSES_ROOT, base + "\\HELPDIR", {},
                 lib.help_dir.empty() ? Directory(lib.module_path) : lib.help_dir);
  edit.SetString(HKEY_CLASSES_ROOT, base + "\\" + LcidKey(lib.lcid) + "\\" + kTypeLibPlatformKey,
                 {}, lib.module_path);
  for (const TypeLibInterface& itf : lib.interfaces) {
    const std::string key = "Interface\\" + FormatGuid(itf.iid);
    edit.DeleteTree(HKEY_CLASSES_ROOT, key);
    edit.SetString(HKEY_CLASSES_ROOT, key, {}, itf.name);
    edit.SetString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", {}, kOleAutomationProxy);
    edit.SetString(HKEY_CLASSES_ROOT, key + "\\TypeLib", {}, libid);
    edit.SetString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version", VersionKey(lib));
  }
}

void AddTypeLibUnregistration(RegistryEdit& edit, const TypeLibRegistration& lib) {
  const std::string libid = FormatGuid(lib.libid);
  edit.DeleteTree(HKEY_CLASSES_ROOT, "TypeLib\\" + libid + "\\" + VersionKey(lib));
  edit.DeleteKeyIfNoSubkeys(HKEY_CLASSES_ROOT, "TypeLib\\" + libid);  // other versions keep it
  for (const TypeLibInterface& itf : lib.interfaces) {
    edit.DeleteTree(HKEY_CLASSES_ROOT, "Interface\\" + FormatGuid(itf.iid));
  }
}

HRESULT RegisterTypeLib(const TypeLibRegistration& lib) {
  try {
    RegistryEdit edit;
    AddTypeLibRegistration(edit, lib);
    return HresultFromRegistryError(edit.Commit());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnRegisterTypeLib(const TypeLibRegistration& lib) {
  try {
    RegistryEdit edit;
    AddTypeLibUnregistration(edit, lib);
    return HresultFromRegistryError(edit.Commit());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major_version, WORD minor_version, LCID lcid,
                              std::string* path) {
  if (!path) return E_POINTER;
  try {
    TypeLibRegistration lib;
    lib.major_version = major_version;
    lib.minor_version = minor_version;
    const std::string base = "TypeLib\\" + FormatGuid(libid) + "\\" + VersionKey(lib) + "\\";
    // The exact locale, then its primary language, then the neutral entry, as the platform looks.
    for (LCID candidate : {lcid, lcid & 0x3FFu, LCID{0}}) {
      LSTATUS s = RegGetString(HKEY_CLASSES_ROOT,
                               base + LcidKey(candidate) + "\\" + kTypeLibPlatformKey, {}, path);
      if (s == ERROR_SUCCESS) return S_OK;
      if (s != ERROR_FILE_NOT_FOUND) return HresultFromRegistryError(s);
    }
    return TYPE_E_LIBNOTREGISTERED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kx::platform
