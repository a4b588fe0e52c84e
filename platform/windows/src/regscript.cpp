// Registration scripts against the system's registry: parsed whole into a tree first, so that a
// bad script writes nothing, then applied key by key.
#include "kx/platform/regscript.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "kx/platform/bstr.h"
#include "kx/platform/comptr.h"
#include "kx/platform/module.h"
#include "kx/platform/registry.h"
#include "kx/platform/typeinfo.h"

// oleaut32's per-user registration (Windows Vista and later), which the cross compiler's headers
// do not declare.
extern "C" {
__declspec(dllimport) HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path,
                                                           OLECHAR* help_dir);
__declspec(dllimport) HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major_version,
                                                             WORD minor_version, LCID lcid,
                                                             SYSKIND syskind);
}

namespace kx::platform {
namespace {

enum class KeyFlag { kNone, kForceRemove, kNoRemove, kDelete };

struct ScriptValue {
  std::string name;  // empty: the key's default value
  bool dword = false;
  std::string text;
  DWORD number = 0;
};

struct ScriptKey {
  KeyFlag flag = KeyFlag::kNone;
  std::string name;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> keys;
};

struct ScriptRoot {
  HKEY root;
  std::vector<ScriptKey> keys;
};

struct SyntaxError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Parser {
 public:
  Parser(std::string_view text, const RegScriptVariables& variables)
      : text_(text), variables_(variables) {}

  std::vector<ScriptRoot> ParseRoots() {
    std::vector<ScriptRoot> roots;
    for (Token t = Next(); t.kind != Token::kEnd; t = Next()) {
      ScriptRoot root{RootOf(t), {}};
      Expect("{");
      root.keys = ParseKeys();
      roots.push_back(std::move(root));
    }
    return roots;
  }

 private:
  struct Token {
    enum Kind { kEnd, kWord, kQuoted } kind = kEnd;
    std::string text;
    int line = 0;
  };

  [[noreturn]] void Fail(int line, const std::string& why) const {
    throw SyntaxError("line " + std::to_string(line) + ": " + why);
  }

  Token Next() {
    if (peeked_) {
      peeked_ = false;
      return peek_;
    }
    for (;;) {
      while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (text_.substr(pos_, 2) == "//") {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        continue;
      }
      break;
    }
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    if (text_[pos_] == '\'') {
      t.kind = Token::kQuoted;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) Fail(t.line, "unterminated text");
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            t.text += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        if (text_[pos_] == '\n') ++line_;
        t.text += text_[pos_++];
      }
      t.text = Substitute(t.text, t.line);
      return t;
    }
    t.kind = Token::kWord;
    while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      t.text += text_[pos_++];
    }
    return t;
  }

  Token Peek() {
    if (!peeked_) {
      peek_ = Next();
      peeked_ = true;
    }
    return peek_;
  }

  void Expect(std::string_view word) {
    const Token t = Next();
    if (t.kind != Token::kWord || t.text != word) {
      Fail(t.line, "expected '" + std::string(word) + "', found '" + t.text + "'");
    }
  }

  std::string Substitute(const std::string& in, int line) const {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (in[i] != '%') {
        out += in[i];
        continue;
      }
      const std::size_t end = in.find('%', i + 1);
      if (end == std::string::npos) Fail(line, "unpaired '%'");
      const std::string name = in.substr(i + 1, end - i - 1);
      if (name.empty()) {
        out += '%';
      } else {
        bool found = false;
        for (const auto& [n, v] : variables_) {
          if (n == name) {
            out += v;
            found = true;
            break;
          }
        }
        if (!found) Fail(line, "unknown variable %" + name + "%");
      }
      i = end;
    }
    return out;
  }

  HKEY RootOf(const Token& t) const {
    if (t.text == "HKCR" || t.text == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
    if (t.text == "HKCU" || t.text == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
    Fail(t.line, "unknown root '" + t.text + "'");
  }

  // After "=": s 'text' or d 'number'.
  void ParseData(ScriptValue* value) {
    const Token type = Next();
    const Token data = Next();
    if (type.kind != Token::kWord || (type.text != "s" && type.text != "d") ||
        data.kind != Token::kQuoted) {
      Fail(type.line, "expected s '...' or d '...'");
    }
    value->dword = type.text == "d";
    value->text = data.text;
    if (value->dword) {
      char* end = nullptr;
      const unsigned long n = std::strtoul(data.text.c_str(), &end, 0);
      if (data.text.empty() || *end != '\0') Fail(data.line, "bad number '" + data.text + "'");
      value->number = static_cast<DWORD>(n);
    }
  }

  // Keys and named values up to the closing brace.
  std::vector<ScriptKey> ParseKeys(ScriptKey* owner = nullptr) {
    std::vector<ScriptKey> keys;
    for (;;) {
      Token t = Next();
      if (t.kind == Token::kEnd) Fail(t.line, "missing '}'");
      if (t.kind == Token::kWord && t.text == "}") return keys;
      if (t.kind == Token::kWord && t.text == "val") {
        if (!owner) Fail(t.line, "a named value outside a key");
        ScriptValue v;
        const Token name = Next();
        if (name.kind == Token::kEnd) Fail(name.line, "missing value name");
        v.name = name.text;
        Expect("=");
        ParseData(&v);
        owner->values.push_back(std::move(v));
        continue;
      }
      ScriptKey key;
      if (t.kind == Token::kWord) {
        if (t.text == "ForceRemove") key.flag = KeyFlag::kForceRemove;
        else if (t.text == "NoRemove") key.flag = KeyFlag::kNoRemove;
        else if (t.text == "Delete") key.flag = KeyFlag::kDelete;
        if (key.flag != KeyFlag::kNone) t = Next();
      }
      if (t.kind == Token::kEnd || (t.kind == Token::kWord && (t.text == "{" || t.text == "}" ||
                                                                t.text == "="))) {
        Fail(t.line, "expected a key name");
      }
      key.name = t.text;
      Token after = Peek();
      if (after.kind == Token::kWord && after.text == "=") {
        (void)Next();
        ScriptValue v;
        ParseData(&v);
        key.values.insert(key.values.begin(), std::move(v));
        after = Peek();
      }
      if (after.kind == Token::kWord && after.text == "{") {
        (void)Next();
        key.keys = ParseKeys(&key);
      }
      keys.push_back(std::move(key));
    }
  }

  std::string_view text_;
  const RegScriptVariables& variables_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool peeked_ = false;
  Token peek_;
};

std::wstring Wide(const std::string& s) {
  const std::u16string w = Utf8ToUtf16(s);
  return std::wstring(w.begin(), w.end());
}

LSTATUS SetValue(HKEY key, const ScriptValue& v) {
  const std::wstring name = Wide(v.name);
  if (v.dword) {
    return ::RegSetValueExW(key, v.name.empty() ? nullptr : name.c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&v.number), sizeof v.number);
  }
  const std::wstring data = Wide(v.text);
  return ::RegSetValueExW(key, v.name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

void DeleteTree(HKEY root, const std::wstring& path) { (void)::RegDeleteTreeW(root, path.c_str()); }

HRESULT Register(HKEY root, const std::wstring& parent, const ScriptKey& key) {
  const std::wstring path = parent.empty() ? Wide(key.name) : parent + L"\\" + Wide(key.name);
  if (key.flag == KeyFlag::kDelete || key.flag == KeyFlag::kForceRemove) DeleteTree(root, path);
  if (key.flag == KeyFlag::kDelete) return S_OK;
  HKEY opened = nullptr;
  if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) !=
      ERROR_SUCCESS) {
    return REGDB_E_WRITEREGDB;
  }
  LSTATUS status = ERROR_SUCCESS;
  for (const ScriptValue& v : key.values) {
    if (status == ERROR_SUCCESS) status = SetValue(opened, v);
  }
  ::RegCloseKey(opened);
  if (status != ERROR_SUCCESS) return REGDB_E_WRITEREGDB;
  for (const ScriptKey& child : key.keys) {
    const HRESULT hr = Register(root, path, child);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void Unregister(HKEY root, const std::wstring& parent, const ScriptKey& key) {
  const std::wstring path = parent.empty() ? Wide(key.name) : parent + L"\\" + Wide(key.name);
  switch (key.flag) {
    case KeyFlag::kDelete:
      return;
    case KeyFlag::kForceRemove:
      DeleteTree(root, path);
      return;
    case KeyFlag::kNoRemove:
      for (const ScriptKey& child : key.keys) Unregister(root, path, child);
      return;
    case KeyFlag::kNone:
      break;
  }
  for (const ScriptKey& child : key.keys) Unregister(root, path, child);
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &opened) != ERROR_SUCCESS) {
    return;
  }
  for (const ScriptValue& v : key.values) {
    const std::wstring name = Wide(v.name);
    (void)::RegDeleteValueW(opened, v.name.empty() ? nullptr : name.c_str());
  }
  DWORD subkeys = 0;
  const bool empty = ::RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS &&
                     subkeys == 0;
  ::RegCloseKey(opened);
  // Another owner's subkey keeps the key.
  if (empty) (void)::RegDeleteKeyW(root, path.c_str());
}

}  // namespace

HRESULT RunRegistrationScript(std::string_view script, const RegScriptVariables& variables,
                              RegScriptMode mode, std::string* diagnostic) {
  std::vector<ScriptRoot> roots;
  try {
    roots = Parser(script, variables).ParseRoots();
  } catch (const SyntaxError& e) {
    if (diagnostic) *diagnostic = e.what();
    return E_INVALIDARG;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  try {
    for (const ScriptRoot& root : roots) {
      for (const ScriptKey& key : root.keys) {
        if (mode == RegScriptMode::kRegister) {
          const HRESULT hr = Register(root.root, L"", key);
          if (FAILED(hr)) return hr;
        } else {
          Unregister(root.root, L"", key);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT RegisterTypeLib(const TypeLibRegistration& lib) {
  const std::wstring path = Wide(lib.module_path);
  ComPtr<ITypeLib> loaded;
  HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, loaded.put());
  if (FAILED(hr)) return hr;
  auto* const path_text = const_cast<LPOLESTR>(path.c_str());
  if (RegistryWriteScope() == RegistryScope::kUser) {
    return ::RegisterTypeLibForUser(loaded.get(), path_text, nullptr);
  }
  // A program that maps HKEY_CLASSES_ROOT to the user's classes and then calls our
  // DllRegisterServer sets the scope in its own copy of this code, not ours; for a user without
  // rights to the machine's classes the system then refuses RegisterTypeLib with this result.
  hr = ::RegisterTypeLib(loaded.get(), path_text, nullptr);
  return hr == TYPE_E_REGISTRYACCESS ? ::RegisterTypeLibForUser(loaded.get(), path_text, nullptr)
                                     : hr;
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major_version, WORD minor_version, LCID lcid,
                              std::string* path) {
  BSTR registered = nullptr;
  const HRESULT hr =
      ::QueryPathOfRegTypeLib(libid, major_version, minor_version, lcid, &registered);
  if (SUCCEEDED(hr)) *path = BstrToUtf8(registered);
  ::SysFreeString(registered);
  return hr;
}

HRESULT UnRegisterTypeLib(const TypeLibRegistration& lib) {
  // Already gone is what unregistration wants. Systems report it differently (Wine with
  // E_INVALIDARG), so it is asked first.
  std::string registered;
  if (FAILED(QueryPathOfRegTypeLib(lib.libid, lib.major_version, lib.minor_version, lib.lcid,
                                   &registered))) {
    return S_OK;
  }
  // The module's own entry (win32 or win64): a DLL of the other bitness may be registered too.
  constexpr SYSKIND kOwnKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  HRESULT hr = TYPE_E_REGISTRYACCESS;
  if (RegistryWriteScope() == RegistryScope::kMachine) {
    hr = ::UnRegisterTypeLib(lib.libid, lib.major_version, lib.minor_version, lib.lcid, kOwnKind);
  }
  // Refused for the machine: the entry is the user's (see RegisterTypeLib). Reporting success
  // here would leave the user's keys behind unnoticed.
  if (hr == TYPE_E_REGISTRYACCESS) {
    hr = ::UnRegisterTypeLibForUser(lib.libid, lib.major_version, lib.minor_version, lib.lcid,
                                    kOwnKind);
  }
  return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

HRESULT RegisterServerFromScript(std::string_view script, std::string_view module_path,
                                 const TypeLibRegistration* typelib,
                                 const RegScriptVariables& extra) {
  RegScriptVariables variables = extra;
  variables.emplace_back("MODULE", std::string(module_path));
  HRESULT hr = RunRegistrationScript(script, variables, RegScriptMode::kRegister);
  if (FAILED(hr)) return hr;
  if (typelib) hr = RegisterTypeLib(*typelib);
  return hr;
}

HRESULT UnregisterServerFromScript(std::string_view script, std::string_view module_path,
                                   const TypeLibRegistration* typelib,
                                   const RegScriptVariables& extra) {
  RegScriptVariables variables = extra;
  variables.emplace_back("MODULE", std::string(module_path));
  HRESULT hr = RunRegistrationScript(script, variables, RegScriptMode::kUnregister);
  if (FAILED(hr)) return hr;
  if (typelib) hr = UnRegisterTypeLib(*typelib);
  return hr;
}

}  // namespace kx::platform
