#include "resource_script.h"

#include <charconv>

#include "resource_lexer.h"

namespace kx::component {

using namespace kx::platform;

namespace {

inline constexpr DWORD kSsBitmap = 0x0E;  // a static control showing a bitmap

class Parser {
 public:
  explicit Parser(std::string_view text) : lex_(text) {}

  ResourceScript ParseFile() {
    ResourceScript script;
    while (lex_.Peek().kind != TokenKind::kEnd) {
      if (lex_.AcceptName("STRINGTABLE")) {
        ParseStringTable(&script);
        continue;
      }
      const int line = lex_.line();
      const int id = ExpectNumber("a resource id");
      const std::string type = ExpectName("a resource type");
      if (type == "DIALOG" || type == "DIALOGEX") {
        if (script.dialogs.count(id))
          FailAt(line, "dialog " + std::to_string(id) + " defined twice");
        script.dialogs[id] = ParseDialog();
      } else if (type == "TYPELIB" || type == "REGISTRY" || type == "BITMAP" || type == "ICON") {
        for (const FileResource& f : script.files) {
          if (f.id == id && f.type == type)
            FailAt(line, type + " " + std::to_string(id) + " listed twice");
        }
        script.files.push_back({id, type, ExpectText("a file name")});
      } else {
        FailAt(line, "unknown resource type '" + type + "'");
      }
    }
    lex_.ExpectNoError();
    return script;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) { lex_.Fail(why); }
  [[noreturn]] void FailAt(int line, const std::string& why) { lex_.FailAt(line, why); }

  int ExpectNumber(std::string_view what) {
    const Token& t = lex_.Peek();
    if (t.kind != TokenKind::kNumber)
      Fail("expected " + std::string(what) + ", found '" + t.text + "'");
    const Token n = lex_.Next();
    int v = 0;
    const auto [end, ec] = std::from_chars(n.text.data(), n.text.data() + n.text.size(), v);
    if (ec != std::errc() || end != n.text.data() + n.text.size())
      Fail("bad number '" + n.text + "'");
    return v;
  }
  std::string ExpectName(std::string_view what) {
    if (lex_.Peek().kind != TokenKind::kName) {
      Fail("expected " + std::string(what) + ", found '" + lex_.Peek().text + "'");
    }
    return lex_.Next().text;
  }
  std::string ExpectText(std::string_view what) {
    if (lex_.Peek().kind != TokenKind::kText) {
      Fail("expected " + std::string(what) + " in quotes, found '" + lex_.Peek().text + "'");
    }
    return lex_.Next().text;
  }
  void ExpectComma() { lex_.Expect(','); }

  DWORD StyleBit(const std::string& name, int line) {
    static const std::pair<const char*, DWORD> kStyles[] = {
        {"WS_POPUP", WS_POPUP},           {"WS_CAPTION", WS_CAPTION}, {"WS_SYSMENU", WS_SYSMENU},
        {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_CENTER", DS_CENTER},   {"DS_SETFONT", DS_SETFONT},
        {"SS_BITMAP", kSsBitmap},
    };
    for (const auto& [n, bit] : kStyles) {
      if (name == n) return bit;
    }
    FailAt(line, "unknown style '" + name + "'");
  }

  // NAME | NAME | ...
  DWORD ParseStyle() {
    DWORD style = 0;
    do {
      const int line = lex_.line();
      style |= StyleBit(ExpectName("a style"), line);
    } while (lex_.Accept('|'));
    return style;
  }

  void ParseRect(int* x, int* y, int* cx, int* cy) {
    *x = ExpectNumber("x");
    ExpectComma();
    *y = ExpectNumber("y");
    ExpectComma();
    *cx = ExpectNumber("a width");
    ExpectComma();
    *cy = ExpectNumber("a height");
    if (*cx < 0 || *cy < 0) Fail("negative size");
  }

  DialogResource ParseDialog() {
    DialogResource d;
    ParseRect(&d.x, &d.y, &d.cx, &d.cy);
    for (;;) {
      if (lex_.AcceptName("STYLE")) {
        d.style = ParseStyle();
      } else if (lex_.AcceptName("CAPTION")) {
        d.caption = ExpectText("a caption");
      } else if (lex_.AcceptName("FONT")) {
        d.font_points = ExpectNumber("a point size");
        ExpectComma();
        d.font_name = ExpectText("a font name");
      } else {
        break;
      }
    }
    if (!lex_.AcceptName("BEGIN")) Fail("expected BEGIN");
    while (!lex_.AcceptName("END")) d.controls.push_back(ParseControl(d));
    return d;
  }

  DialogControlResource ParseControl(const DialogResource& dialog) {
    DialogControlResource c;
    const int line = lex_.line();
    const std::string statement = ExpectName("a control statement");
    if (statement == "CONTROL") {
      // CONTROL bitmap-id, id, "Static", SS_BITMAP, x, y, cx, cy
      const int bitmap = ExpectNumber("a bitmap id");
      ExpectComma();
      c.id = ExpectNumber("a control id");
      ExpectComma();
      const std::string klass = ExpectText("a window class");
      ExpectComma();
      const DWORD style = ParseStyle();
      if (klass != "Static" || (style & kSsBitmap) != kSsBitmap) {
        FailAt(line, "only \"Static\" SS_BITMAP pictures are supported as CONTROL");
      }
      c.kind = DialogControlKind::kPicture;
      c.bitmap_id = bitmap;
    } else {
      if (statement == "DEFPUSHBUTTON")
        c.kind = DialogControlKind::kDefPushButton;
      else if (statement == "PUSHBUTTON")
        c.kind = DialogControlKind::kPushButton;
      else if (statement == "LTEXT")
        c.kind = DialogControlKind::kStaticText;
      else
        FailAt(line, "unknown control statement '" + statement + "'");
      c.text = ExpectText("the control's text");
      ExpectComma();
      c.id = ExpectNumber("a control id");
    }
    ExpectComma();
    ParseRect(&c.x, &c.y, &c.cx, &c.cy);
    for (const DialogControlResource& other : dialog.controls) {
      if (other.id == c.id) FailAt(line, "control id " + std::to_string(c.id) + " used twice");
    }
    return c;
  }

  void ParseStringTable(ResourceScript* script) {
    if (!lex_.AcceptName("BEGIN")) Fail("expected BEGIN");
    while (!lex_.AcceptName("END")) {
      const int line = lex_.line();
      const int id = ExpectNumber("a string id");
      std::string text = ExpectText("the string");
      if (!script->strings.emplace(id, std::move(text)).second) {
        FailAt(line, "string " + std::to_string(id) + " defined twice");
      }
    }
  }

  ResourceLexer lex_;
};

}  // namespace

HRESULT ParseResourceScript(std::string_view text, ResourceScript* script,
                            std::string* diagnostic) {
  if (!script) return E_POINTER;
  return RunResourceTextParser([&] { *script = Parser(text).ParseFile(); }, diagnostic);
}

}  // namespace kx::component
