#include "type_library_text.h"

#include <charconv>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "resource_lexer.h"

namespace kx::component {

using namespace kx::platform;

namespace {

struct Attribute {
  int line = 0;
  std::string name;
  std::string raw;  // uuid(...) contents, number or text argument
  bool has_argument = false;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lex_(text) {}

  LibraryDescription ParseFile() {
    LibraryDescription lib;
    const std::vector<Attribute> attrs = ParseAttributes();
    ExpectName("library");
    lib.name = Wide(ExpectIdentifier("library name"));
    bool have_uuid = false;
    for (const Attribute& a : attrs) {
      if (a.name == "uuid") {
        lib.libid = ToGuid(a);
        have_uuid = true;
      } else if (a.name == "version") {
        ParseVersion(a, &lib.major_version, &lib.minor_version);
      } else if (a.name == "lcid") {
        lib.lcid = static_cast<LCID>(ToInteger(a));
      } else if (a.name == "helpstring") {
        lib.help = Wide(TextOf(a));
      } else if (a.name == "control") {
        lib.lib_flags |= LIBFLAG_FCONTROL;
      } else if (a.name == "hidden") {
        lib.lib_flags |= LIBFLAG_FHIDDEN;
      } else {
        FailAt(a.line, "unknown library attribute '" + a.name + "'");
      }
    }
    if (!have_uuid) Fail("the library has no uuid");
    Expect('{');
    std::vector<PendingCoclass> pending;
    while (!lex_.Accept('}')) {
      const std::vector<Attribute> item_attrs = ParseAttributes();
      if (lex_.AcceptName("interface")) {
        lib.interfaces.push_back(ParseInterface(item_attrs));
      } else if (lex_.AcceptName("dispinterface")) {
        lib.interfaces.push_back(ParseDispinterface(item_attrs));
      } else if (lex_.AcceptName("coclass")) {
        pending.push_back(ParseCoclass(item_attrs));
      } else {
        Fail("expected interface, dispinterface or coclass, found '" + lex_.Peek().text + "'");
      }
      (void)lex_.Accept(';');
    }
    (void)lex_.Accept(';');
    if (lex_.Peek().kind != TokenKind::kEnd) Fail("text after the end of the library");
    lex_.ExpectNoError();
    for (PendingCoclass& p : pending) lib.coclasses.push_back(ResolveCoclass(lib, std::move(p)));
    return lib;
  }

 private:
  struct PendingCoclass {
    CoclassDescription coclass;
    std::vector<std::pair<std::string, INT>> interfaces;  // name, IMPLTYPEFLAG_*
    int line = 0;
  };

  [[noreturn]] void Fail(const std::string& why) { lex_.Fail(why); }
  [[noreturn]] void FailAt(int line, const std::string& why) { lex_.FailAt(line, why); }

  static std::u16string Wide(std::string_view narrow) { return Utf8ToUtf16(narrow); }

  void Expect(char punct) { lex_.Expect(punct); }
  void ExpectName(std::string_view name) {
    if (!lex_.AcceptName(name)) {
      Fail("expected '" + std::string(name) + "', found '" + lex_.Peek().text + "'");
    }
  }
  std::string ExpectIdentifier(std::string_view what) {
    if (lex_.Peek().kind != TokenKind::kName) Fail("expected " + std::string(what));
    return lex_.Next().text;
  }

  // [ name, name(argument), ... ] or nothing.
  std::vector<Attribute> ParseAttributes() {
    std::vector<Attribute> attrs;
    if (!lex_.Accept('[')) return attrs;
    do {
      Attribute a;
      a.line = lex_.line();
      a.name = ExpectIdentifier("an attribute");
      if (lex_.Accept('(')) {
        a.has_argument = true;
        if (a.name == "uuid") {
          if (!lex_.ReadRawUntil(')', &a.raw)) Fail("unterminated uuid(...)");
        } else {
          const Token t = lex_.Next();
          if (t.kind != TokenKind::kNumber && t.kind != TokenKind::kText) {
            Fail("attribute '" + a.name + "' needs a number or a text");
          }
          a.raw = t.text;
          Expect(')');
        }
      }
      attrs.push_back(std::move(a));
    } while (lex_.Accept(','));
    Expect(']');
    return attrs;
  }

  GUID ToGuid(const Attribute& a) {
    std::string text = a.raw;
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const std::optional<GUID> g = ParseGuid("{" + text + "}");
    if (!g) FailAt(a.line, "bad uuid '" + a.raw + "'");
    return *g;
  }

  long long ToInteger(const Attribute& a) {
    if (!a.has_argument) FailAt(a.line, "attribute '" + a.name + "' needs a number");
    long long v = 0;
    const char* first = a.raw.data();
    const char* last = first + a.raw.size();
    int base = 10;
    bool negative = false;
    if (first != last && *first == '-') {
      negative = true;
      ++first;
    }
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
      base = 16;
      first += 2;
    }
    const auto [end, ec] = std::from_chars(first, last, v, base);
    if (ec != std::errc() || end != last) FailAt(a.line, "bad number '" + a.raw + "' in " + a.name);
    return negative ? -v : v;
  }

  const std::string& TextOf(const Attribute& a) {
    if (!a.has_argument) FailAt(a.line, "attribute '" + a.name + "' needs a text");
    return a.raw;
  }

  void ParseVersion(const Attribute& a, WORD* major, WORD* minor) {
    const std::size_t dot = a.raw.find('.');
    unsigned ma = 0, mi = 0;
    const std::string ma_text = a.raw.substr(0, dot);
    const std::string mi_text = dot == std::string::npos ? "0" : a.raw.substr(dot + 1);
    const auto r1 = std::from_chars(ma_text.data(), ma_text.data() + ma_text.size(), ma);
    const auto r2 = std::from_chars(mi_text.data(), mi_text.data() + mi_text.size(), mi);
    if (r1.ec != std::errc() || r1.ptr != ma_text.data() + ma_text.size() || r2.ec != std::errc() ||
        r2.ptr != mi_text.data() + mi_text.size() || ma > 0xFFFF || mi > 0xFFFF) {
      FailAt(a.line, "bad version '" + a.raw + "'");
    }
    *major = static_cast<WORD>(ma);
    *minor = static_cast<WORD>(mi);
  }

  // double, long, short, ... optionally followed by '*'.
  VARTYPE ParseType() {
    const std::string name = ExpectIdentifier("a parameter type");
    static const std::pair<const char*, VARTYPE> kTypes[] = {
        {"double", VT_R8},          {"float", VT_R4},         {"long", VT_I4},
        {"short", VT_I2},           {"BSTR", VT_BSTR},        {"VARIANT", VT_VARIANT},
        {"IDispatch", VT_DISPATCH}, {"IUnknown", VT_UNKNOWN},
    };
    VARTYPE vt = VT_EMPTY;
    for (const auto& [n, t] : kTypes) {
      if (name == n) vt = t;
    }
    if (vt == VT_EMPTY) Fail("unknown type '" + name + "'");
    const bool is_object = vt == VT_DISPATCH || vt == VT_UNKNOWN;
    if (is_object && !lex_.Accept('*')) Fail(name + " is passed through a pointer");
    if (lex_.Accept('*')) vt |= VT_BYREF;
    if (lex_.Peek().kind == TokenKind::kPunct && lex_.Peek().text == "*") {
      Fail("pointers to pointers are not supported");
    }
    return vt;
  }

  ParamDescription ParseParam() {
    ParamDescription p;
    USHORT flags = 0;
    for (const Attribute& a : ParseAttributes()) {
      if (a.name == "in")
        flags |= PARAMFLAG_FIN;
      else if (a.name == "out")
        flags |= PARAMFLAG_FOUT;
      else if (a.name == "retval")
        flags |= PARAMFLAG_FRETVAL;
      else if (a.name == "optional")
        flags |= PARAMFLAG_FOPT;
      else
        FailAt(a.line, "unknown parameter attribute '" + a.name + "'");
    }
    if (flags == 0) flags = PARAMFLAG_FIN;
    p.vt = ParseType();
    p.name = Wide(ExpectIdentifier("a parameter name"));
    p.flags = flags;
    if ((flags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) && !(p.vt & VT_BYREF)) {
      Fail("out parameter '" + Utf16ToUtf8(p.name) + "' must be a pointer");
    }
    if ((flags & PARAMFLAG_FRETVAL) && !(flags & PARAMFLAG_FOUT)) {
      Fail("retval parameter '" + Utf16ToUtf8(p.name) + "' must also be out");
    }
    return p;
  }

  MemberDescription ParseMember(std::vector<Attribute> attrs, bool dispatch_only) {
    MemberDescription m;
    bool have_id = false;
    int kinds = 0;
    for (const Attribute& a : attrs) {
      if (a.name == "id") {
        m.dispid = static_cast<DISPID>(ToInteger(a));
        have_id = true;
      } else if (a.name == "propget") {
        m.kind = INVOKE_PROPERTYGET;
        ++kinds;
      } else if (a.name == "propput") {
        m.kind = INVOKE_PROPERTYPUT;
        ++kinds;
      } else if (a.name == "helpstring") {
        m.help = Wide(TextOf(a));
      } else if (a.name == "bindable") {
        m.func_flags |= FUNCFLAG_FBINDABLE;
      } else if (a.name == "requestedit") {
        m.func_flags |= FUNCFLAG_FREQUESTEDIT;
      } else if (a.name == "displaybind") {
        m.func_flags |= FUNCFLAG_FDISPLAYBIND;
      } else if (a.name == "defaultbind") {
        m.func_flags |= FUNCFLAG_FDEFAULTBIND;
      } else if (a.name == "hidden") {
        m.func_flags |= FUNCFLAG_FHIDDEN;
      } else if (a.name == "restricted") {
        m.func_flags |= FUNCFLAG_FRESTRICTED;
      } else {
        FailAt(a.line, "unknown member attribute '" + a.name + "'");
      }
    }
    const int line = lex_.line();  // the line of the member's declaration
    if (!have_id) FailAt(line, "member without id(...)");
    if (kinds > 1) FailAt(line, "a member is either propget or propput");
    if (dispatch_only && m.kind != INVOKE_FUNC) FailAt(line, "event members are methods");
    const std::string result_type = ExpectIdentifier("HRESULT");
    if (result_type != "HRESULT") Fail("members return HRESULT, not '" + result_type + "'");
    m.name = Wide(ExpectIdentifier("a member name"));
    Expect('(');
    if (!lex_.Accept(')')) {
      do {
        m.params.push_back(ParseParam());
      } while (lex_.Accept(','));
      Expect(')');
    }
    Expect(';');
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      const bool retval = (m.params[i].flags & PARAMFLAG_FRETVAL) != 0;
      if (retval && i + 1 != m.params.size()) FailAt(line, "retval must be the last parameter");
    }
    if (m.kind == INVOKE_PROPERTYGET &&
        (m.params.empty() || !(m.params.back().flags & PARAMFLAG_FRETVAL))) {
      FailAt(line, "a propget returns its value through a retval parameter");
    }
    if (m.kind == INVOKE_PROPERTYPUT && m.params.empty())
      FailAt(line, "a propput takes the new value");
    return m;
  }

  void CheckUnique(const InterfaceDescription& d) {
    std::set<std::pair<DISPID, int>> seen;
    for (const MemberDescription& m : d.members) {
      if (!seen.insert({m.dispid, m.kind}).second) {
        Fail("two members of " + Utf16ToUtf8(d.name) + " have DISPID " + std::to_string(m.dispid));
      }
    }
  }

  void ApplyTypeAttributes(const std::vector<Attribute>& attrs, InterfaceDescription* d,
                           bool* is_dual) {
    bool have_uuid = false;
    for (const Attribute& a : attrs) {
      if (a.name == "uuid") {
        d->iid = ToGuid(a);
        have_uuid = true;
      } else if (a.name == "helpstring") {
        d->help = Wide(TextOf(a));
      } else if (a.name == "dual") {
        *is_dual = true;
      } else if (a.name == "oleautomation") {
        d->type_flags |= TYPEFLAG_FOLEAUTOMATION;
      } else if (a.name == "nonextensible") {
        d->type_flags |= TYPEFLAG_FNONEXTENSIBLE;
      } else if (a.name == "hidden") {
        d->type_flags |= TYPEFLAG_FHIDDEN;
      } else if (a.name != "object") {
        FailAt(a.line, "unknown interface attribute '" + a.name + "'");
      }
    }
    if (!have_uuid) Fail(Utf16ToUtf8(d->name) + " has no uuid");
  }

  InterfaceDescription ParseInterface(const std::vector<Attribute>& attrs) {
    InterfaceDescription d;
    d.name = Wide(ExpectIdentifier("an interface name"));
    bool dual = false;
    ApplyTypeAttributes(attrs, &d, &dual);
    Expect(':');
    const std::string base = ExpectIdentifier("the base interface");
    if (base != "IDispatch") Fail("interfaces here derive from IDispatch, not '" + base + "'");
    if (dual) {
      d.kind = TKIND_DISPATCH;
      d.type_flags |= TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    } else {
      d.kind = TKIND_INTERFACE;
      d.type_flags |= TYPEFLAG_FDISPATCHABLE;
    }
    Expect('{');
    while (!lex_.Accept('}')) d.members.push_back(ParseMember(ParseAttributes(), false));
    CheckUnique(d);
    return d;
  }

  InterfaceDescription ParseDispinterface(const std::vector<Attribute>& attrs) {
    InterfaceDescription d;
    d.name = Wide(ExpectIdentifier("a dispinterface name"));
    bool dual = false;
    ApplyTypeAttributes(attrs, &d, &dual);
    if (dual) Fail("a dispinterface cannot be dual");
    d.kind = TKIND_DISPATCH;
    d.type_flags |= TYPEFLAG_FDISPATCHABLE;
    Expect('{');
    if (lex_.AcceptName("properties")) Expect(':');
    if (lex_.AcceptName("methods")) Expect(':');
    while (!lex_.Accept('}')) d.members.push_back(ParseMember(ParseAttributes(), true));
    CheckUnique(d);
    return d;
  }

  PendingCoclass ParseCoclass(const std::vector<Attribute>& attrs) {
    PendingCoclass p;
    p.line = lex_.line();
    p.coclass.name = Wide(ExpectIdentifier("a coclass name"));
    bool have_uuid = false;
    for (const Attribute& a : attrs) {
      if (a.name == "uuid") {
        p.coclass.clsid = ToGuid(a);
        have_uuid = true;
      } else if (a.name == "helpstring") {
        p.coclass.help = Wide(TextOf(a));
      } else if (a.name == "control") {
        p.coclass.type_flags |= TYPEFLAG_FCONTROL;
      } else if (a.name == "noncreatable") {
        p.coclass.type_flags &= static_cast<WORD>(~TYPEFLAG_FCANCREATE);
      } else {
        FailAt(a.line, "unknown coclass attribute '" + a.name + "'");
      }
    }
    if (!have_uuid) Fail("coclass without uuid");
    Expect('{');
    while (!lex_.Accept('}')) {
      INT flags = 0;
      for (const Attribute& a : ParseAttributes()) {
        if (a.name == "default")
          flags |= IMPLTYPEFLAG_FDEFAULT;
        else if (a.name == "source")
          flags |= IMPLTYPEFLAG_FSOURCE;
        else if (a.name == "restricted")
          flags |= IMPLTYPEFLAG_FRESTRICTED;
        else
          FailAt(a.line, "unknown attribute '" + a.name + "' of an implemented interface");
      }
      if (!lex_.AcceptName("interface") && !lex_.AcceptName("dispinterface")) {
        Fail("expected interface or dispinterface");
      }
      p.interfaces.emplace_back(ExpectIdentifier("an interface name"), flags);
      Expect(';');
    }
    return p;
  }

  CoclassDescription ResolveCoclass(const LibraryDescription& lib, PendingCoclass p) {
    for (const auto& [name, flags] : p.interfaces) {
      const InterfaceDescription* d = FindInterface(lib, Wide(name));
      if (!d) {
        FailAt(p.line,
               "coclass " + Utf16ToUtf8(p.coclass.name) + " names undescribed interface " + name);
      }
      p.coclass.interfaces.push_back({d->iid, flags});
    }
    return std::move(p.coclass);
  }

  ResourceLexer lex_;
};

}  // namespace

HRESULT ParseTypeLibraryText(std::string_view text, LibraryDescription* library,
                             std::string* diagnostic) {
  if (!library) return E_POINTER;
  return RunResourceTextParser([&] { *library = Parser(text).ParseFile(); }, diagnostic);
}

const InterfaceDescription* FindInterface(const LibraryDescription& library,
                                          std::u16string_view name) noexcept {
  for (const InterfaceDescription& d : library.interfaces) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

const InterfaceDescription* FindInterface(const LibraryDescription& library,
                                          const IID& iid) noexcept {
  for (const InterfaceDescription& d : library.interfaces) {
    if (d.iid == iid) return &d;
  }
  return nullptr;
}

}  // namespace kx::component
