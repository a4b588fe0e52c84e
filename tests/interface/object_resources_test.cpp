// The module's resource texts: the type library description and its binding to the IKvQuantorb
// vtable, and the resource script with the about dialog and the string table.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "embedded_resources.h"
#include "ikvquantorb.h"
#include "quantorb_typelib.h"
#include "resource_script.h"
#include "type_library_text.h"

namespace kx::component {
namespace {

using namespace kx::platform;

std::string ReadText(const char* name) {
  std::ifstream in(std::string(KX_RESOURCE_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(TypeLibraryText, DescribesTheLibraryClassAndInterfaces) {
  LibraryDescription lib;
  std::string why;
  ASSERT_EQ(ParseTypeLibraryText(ReadText("korvanex.idl"), &lib, &why), S_OK) << why;
  EXPECT_EQ(lib.name, u"KORVANELib");
  EXPECT_EQ(lib.libid, LIBID_KORVANELib);
  EXPECT_EQ(lib.major_version, 1);
  EXPECT_EQ(lib.minor_version, 0);
  EXPECT_EQ(lib.lcid, 1033u);
  EXPECT_EQ(lib.help, u"= Brambleton Varnix Control");
  const InterfaceDescription* dual = FindInterface(lib, IID_IKvQuantorb);
  ASSERT_NE(dual, nullptr);
  EXPECT_EQ(dual->help, u"IKvQuantorb Interface");
  EXPECT_EQ(dual->members.size(), 42u);
  const MemberDescription* base_put = dual->Find(1, INVOKE_PROPERTYPUT);
  ASSERT_NE(base_put, nullptr);
  EXPECT_EQ(base_put->func_flags, FUNCFLAG_FBINDABLE | FUNCFLAG_FREQUESTEDIT);
  const MemberDescription* skew = dual->Find(51, INVOKE_FUNC);
  ASSERT_NE(skew, nullptr);
  ASSERT_EQ(skew->params.size(), 14u);
  EXPECT_EQ(skew->params[10].name, u"PutValue");
  EXPECT_EQ(skew->params[10].vt, VT_VARIANT | VT_BYREF);
  EXPECT_EQ(skew->params[10].flags, PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT);
  const MemberDescription* about = dual->Find(DISPID_ABOUTBOX, INVOKE_FUNC);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->name, u"About");

  const InterfaceDescription* events = FindInterface(lib, u"_IKvQuantorbEvents");
  ASSERT_NE(events, nullptr);
  EXPECT_EQ(events->iid, DIID__IKvQuantorbEvents);
  const MemberDescription* done = events->Find(1, INVOKE_FUNC);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->help, u"method Done");
  ASSERT_EQ(done->params.size(), 3u);
  EXPECT_EQ(done->params[0].vt, VT_I2);
  EXPECT_EQ(done->params[2].vt, VT_BSTR);
  ASSERT_EQ(lib.coclasses.size(), 1u);
  EXPECT_EQ(lib.coclasses[0].clsid, CLSID_KvQuantorb);
  EXPECT_EQ(lib.coclasses[0].interfaces.size(), 2u);
}

TEST(TypeLibraryText, ReportsTheLineOfAFault) {
  struct Row {
    const char* what;
    std::string text;
    const char* diagnostic_start;
  };
  const std::string good = ReadText("korvanex.idl");
  const Row rows[] = {
      {"unknown type", Replace(good, "[in] double StockPrice", "[in] decimal StockPrice"),
       "line 41: unknown type"},
      {"out by value", Replace(good, "[out] double* CDelta", "[out] double CDelta"),
       "line 51: out parameter"},
      {"retval not last",
       Replace(good, "[out, retval] double* CPrice);",
               "[out, retval] double* CPrice, [in] long X);"),
       "line 41: retval"},
      {"duplicate dispid", Replace(good, "[id(11)", "[id(10)"), "line"},
      {"unknown attribute",
       Replace(good, "bindable, requestedit,", "bindable, requestedit, shiny,"),
       "line 26: unknown member"},
      {"undescribed interface in coclass",
       Replace(good, "[default] interface IKvQuantorb;", "[default] interface IMissing;"), "line"},
      {"unterminated text",
       Replace(good, "helpstring(\"IKvQuantorb Interface\")",
               "helpstring(\"IKvQuantorb Interface)"),
       "line 21: unterminated"},
      {"bad uuid", Replace(good, "uuid(7C41E2A0-3B95", "uuid(7C41E2A0-ZB95"), "line"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    LibraryDescription lib;
    std::string why;
    EXPECT_EQ(ParseTypeLibraryText(r.text, &lib, &why), E_INVALIDARG);
    EXPECT_EQ(why.rfind(r.diagnostic_start, 0), 0u) << why;
  }
}

TEST(TypeLibraryBinding, BindsEveryMemberOfTheShippedDescription) {
  KorvaneTypeLibrary lib;
  std::string why;
  ASSERT_EQ(BuildKorvaneTypeLibrary(ReadText("korvanex.idl"), &lib, &why), S_OK) << why;
  ASSERT_NE(lib.quantorb, nullptr);
  for (const MemberDescription& m : lib.quantorb->members) {
    EXPECT_NE(m.call, nullptr) << Utf16ToUtf8(m.name);
  }
  EXPECT_TRUE(lib.type_lib);
  // The module serves the same text it embeds.
  const auto embedded = FindEmbeddedText("TYPELIB", 1);
  ASSERT_TRUE(embedded.has_value());
  EXPECT_EQ(std::string(*embedded), ReadText("korvanex.idl"));
  EXPECT_NE(LoadKorvaneTypeLibrary(), nullptr);
}

TEST(TypeLibraryBinding, RefusesADescriptionThatDoesNotMatchTheVtable) {
  const std::string good = ReadText("korvanex.idl");
  const std::string abort_member =
      "    [id(500), helpstring(\"Abort the current operation.\")]\n    HRESULT Abort();\n";
  struct Row {
    const char* what;
    std::string text;
    const char* diagnostic_part;
  };
  const Row rows[] = {
      {"a member missing", Replace(good, abort_member, ""), "About"},
      {"an extra member",
       Replace(good, abort_member, abort_member + "    [id(501)] HRESULT Reset();\n"), "Reset"},
      {"a parameter of another type",
       Replace(good,
               "[in] long TradingDays,\n                                 [out, retval] VARIANT*",
               "[in] short TradingDays,\n                                 [out, retval] VARIANT*"),
       "TradingDays"},
      {"a parameter too many", Replace(good, "HRESULT About();", "HRESULT About([in] long Owner);"),
       "About"},
      {"a renamed member", Replace(good, "HRESULT BSRho(", "HRESULT BSRhoo("), "BSRhoo"},
      {"another class id", Replace(good, "uuid(7C41E2A1-3B95", "uuid(7C41E2A9-3B95"), "KvQuantorb"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    KorvaneTypeLibrary lib;
    std::string why;
    EXPECT_EQ(BuildKorvaneTypeLibrary(r.text, &lib, &why), E_INVALIDARG);
    EXPECT_NE(why.find(r.diagnostic_part), std::string::npos) << why;
  }
}

TEST(ResourceScript, ListsFilesDialogAndStrings) {
  ResourceScript script;
  std::string why;
  ASSERT_EQ(ParseResourceScript(ReadText("korvanex.rc"), &script, &why), S_OK) << why;
  EXPECT_EQ(script.files.size(), 6u);
  for (const FileResource& f : script.files) {
    SCOPED_TRACE(f.file);
    const auto embedded = FindEmbeddedResource(f.type, f.id);
    ASSERT_TRUE(embedded.has_value());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(embedded->data()), embedded->size()),
              ReadText(f.file.c_str()));
  }
  EXPECT_EQ(script.strings.at(100), "KorvaneX");
  EXPECT_EQ(script.strings.at(101), "Varnix Control");
  const DialogResource& about = script.dialogs.at(103);
  EXPECT_EQ(about.cx, 212);
  EXPECT_EQ(about.cy, 194);
  EXPECT_EQ(about.controls.size(), 12u);
  for (const DialogControlResource& c : about.controls) {
    if (c.id < 203) continue;
    SCOPED_TRACE(c.id);
    // The notice and contact lines sit in the band the layout reserves for them.
    EXPECT_GE(c.x, 42);
    EXPECT_LE(c.x, 121);
    EXPECT_GE(c.y, 34);
    EXPECT_LE(c.y, 159);
    EXPECT_LE(c.x + c.cx, about.cx) << "inside the dialog";
  }
}

TEST(ResourceScript, RefusesWhatItDoesNotKnow) {
  const std::pair<const char*, const char*> kBad[] = {
      {"1 TYPELIB korvanex.idl\n", "line 1: expected a file name"},
      {"7 CURSOR \"a.cur\"\n", "line 1: unknown resource type"},
      {"9 DIALOG 0, 0, 10, 10\nSTYLE WS_SHINY\nBEGIN\nEND\n", "line 2: unknown style"},
      {"9 DIALOG 0, 0, 10, 10\nBEGIN\n LTEXT \"a\", 5, 0, 0, 1, 1\n LTEXT \"b\", 5, 0, 0, 1, "
       "1\nEND\n",
       "line 4: control id 5"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", "line 4: string 1"},
      {"9 DIALOG 0, 0, 10, 10\nBEGIN\n LTEXT \"open, 5, 0, 0, 1, 1\nEND\n", "line 3: unterminated"},
  };
  for (const auto& [text, start] : kBad) {
    SCOPED_TRACE(text);
    ResourceScript script;
    std::string why;
    EXPECT_EQ(ParseResourceScript(text, &script, &why), E_INVALIDARG);
    EXPECT_EQ(why.rfind(start, 0), 0u) << why;
  }
}

}  // namespace
}  // namespace kx::component
