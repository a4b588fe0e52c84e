#include "kx/platform/regscript.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kx/platform/module.h"
#include "registry_sandbox.h"

namespace kx::platform {
namespace {

using test_support::RegistrySandbox;

// The shape of a control's registration: ProgIDs, a class key replaced whole under a CLSID key
// that stays, and an add-in key under a chain of keys that stay.
constexpr const char* kScript = R"(
// comment line
HKCR
{
  Kx.Sample.1 = s 'Sample Control'
  {
    CLSID = s '{11111111-2222-3333-4444-555555555555}'
    Insertable
  }
  NoRemove CLSID
  {
    ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Sample Control'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
      ToolboxBitmap32 = s '%MODULE%, 206'
      MiscStatus = s '0' { '1' = s '132497' }
      'Quote''s Key' = s '100%% sure'
    }
  }
}
HKCU
{
  NoRemove Software
  {
    NoRemove Vendor
    {
      NoRemove Addins
      {
        ForceRemove Kx.Sample.1
        {
          val FriendlyName = s 'Sample Control'
          val LoadBehavior = d '3'
          val Mask = d '0xFFFFFFFF'
        }
      }
    }
  }
}
)";

constexpr const char* kClassKey = "CLSID\\{11111111-2222-3333-4444-555555555555}";

std::string Get(HKEY root, const std::string& path, const std::string& name = {}) {
  std::string value;
  LSTATUS s = RegGetString(root, path, name, &value);
  return s == ERROR_SUCCESS ? value : "<" + std::to_string(s) + ">";
}

bool Exists(HKEY root, const std::string& path) {
  bool exists = false;
  EXPECT_EQ(RegKeyExists(root, path, &exists), ERROR_SUCCESS);
  return exists;
}

TEST(RegistrationScript, RegisterWritesKeysAndReplacesForceRemoveKeysWhole) {
  RegistrySandbox sandbox;
  // Left over from an earlier build: must not survive registration.
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale", "", "old"),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, kClassKey, "StaleValue", "old"), ERROR_SUCCESS);

  const RegScriptVariables vars = {{"MODULE", "/opt/kx/lib/Sample.so"}};
  std::string diagnostic;
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kRegister, &diagnostic), S_OK)
      << diagnostic;

  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, "Kx.Sample.1"), "Sample Control");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, "Kx.Sample.1\\CLSID"), "{11111111-2222-3333-4444-555555555555}");
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Kx.Sample.1\\Insertable"));
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32"),
            "/opt/kx/lib/Sample.so");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"),
            "Apartment");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\ToolboxBitmap32"),
            "/opt/kx/lib/Sample.so, 206");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\MiscStatus\\1"), "132497");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Quote's Key"), "100% sure");
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale"));
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, kClassKey, "StaleValue"), "<2>");
  DWORD load = 0, mask = 0;
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Vendor\\Addins\\Kx.Sample.1", "LoadBehavior",
                        &load),
            ERROR_SUCCESS);
  EXPECT_EQ(load, 3u);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Vendor\\Addins\\Kx.Sample.1", "Mask", &mask),
            ERROR_SUCCESS);
  EXPECT_EQ(mask, 0xFFFFFFFFu);

  // Registering twice gives the same registry.
  const std::string once = [&] {
    std::ifstream in(sandbox.file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kRegister), S_OK);
  std::ifstream in(sandbox.file(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), once);
}

TEST(RegistrationScript, UnregisterKeepsNoRemoveKeysAndForeignSubkeys) {
  RegistrySandbox sandbox;
  const RegScriptVariables vars = {{"MODULE", "/opt/kx/lib/Sample.so"}};
  // Other software's entries under the same parents.
  ASSERT_EQ(
      RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{99999999-0000-0000-0000-000000000000}", "", "other"),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Vendor\\Addins\\Other", "LoadBehavior", 2),
            ERROR_SUCCESS);
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kRegister), S_OK);
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kUnregister), S_OK);

  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Kx.Sample.1"));
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, "CLSID\\{99999999-0000-0000-0000-000000000000}"), "other");
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\Vendor\\Addins\\Kx.Sample.1"));
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\Vendor\\Addins\\Other"));

  // With nothing else left, the NoRemove chain still stays.
  ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "Software\\Vendor\\Addins\\Other"), ERROR_SUCCESS);
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kRegister), S_OK);
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kUnregister), S_OK);
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\Vendor\\Addins"));

  // A plain key that gained a subkey someone else wrote keeps it; the script's own parts go.
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kRegister), S_OK);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Kx.Sample.1\\Shell", "", "foreign"), ERROR_SUCCESS);
  ASSERT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kUnregister), S_OK);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Kx.Sample.1\\Shell"));
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Kx.Sample.1\\CLSID"));

  // Unregistering what is not registered is not an error.
  EXPECT_EQ(RunRegistrationScript(kScript, vars, RegScriptMode::kUnregister), S_OK);
}

TEST(RegistrationScript, BadScriptsAreRejectedWithTheirLineAndChangeNothing) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Before", "", "x"), ERROR_SUCCESS);
  struct Case {
    const char* script;
    const char* expected_line;
  };
  const Case cases[] = {
      {"HKCR\n{\n  A = s 'x'\n", "line 4"},                        // '}' missing
      {"HKLM\n{\n}\n", "line 1"},                                  // root not served
      {"HKCR\n{\n  A = s '%NOPE%'\n}\n", "line 3"},                // unknown variable
      {"HKCR\n{\n  A = d '12x'\n}\n", "line 3"},                   // not a number
      {"HKCR\n{\n  A = d '4294967296'\n}\n", "line 3"},            // does not fit 32 bits
      {"HKCR\n{\n  A = s 'open\n}\n", "line 3"},                   // quote not closed
      {"HKCR\n{\n  NoRemove ForceRemove A\n}\n", "line 3"},        // two flags
      {"HKCR\n{\n  val X = s 'y'\n}\n", "line 3"},                 // value on a root
      {"HKCR\n{\n  A = q 'y'\n}\n", "line 3"},                     // unknown type
      {"HKCR\n{\n  'A\\B' = s 'y'\n}\n", "line 3"},                // a path in a name
      {"HKCR\n{\n  A\n  {\n    val = s 'y'\n  }\n}\n", "line 5"},  // value without a name
  };
  const RegScriptVariables vars = {{"MODULE", "/m.so"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    std::string diagnostic;
    EXPECT_EQ(RunRegistrationScript(c.script, vars, RegScriptMode::kRegister, &diagnostic),
              E_INVALIDARG);
    EXPECT_NE(diagnostic.find(c.expected_line), std::string::npos) << diagnostic;
  }
  std::vector<std::string> names;
  ASSERT_EQ(RegListSubKeys(HKEY_CLASSES_ROOT, "", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, std::vector<std::string>{"Before"});
}

// What the registry cannot store (names past 255 characters, keys nested past 512, texts that
// are not UTF-8) fails the check itself, so a script that checks also registers; one at each
// limit registers and unregisters cleanly.
TEST(RegistrationScript, ScriptsTheRegistryCannotStoreFailTheCheck) {
  RegistrySandbox sandbox;
  const auto nested = [](int depth) {
    std::string script = "HKCU {";
    for (int i = 0; i < depth; ++i) script += " K {";
    for (int i = 0; i < depth; ++i) script += " }";
    return script + " }";
  };
  struct Case {
    std::string script;
    HRESULT checked;
  };
  const Case cases[] = {
      {"HKCU { " + std::string(255, 'n') + " }", S_OK},
      {"HKCU { " + std::string(256, 'n') + " }", E_INVALIDARG},
      {nested(512), S_OK},
      {nested(513), E_INVALIDARG},
      {nested(100000), E_INVALIDARG},  // no recursion that deep either
      {"HKCU { 'caf\xc3\xa9' = s '\xe2\x82\xac' }", S_OK},
      {"HKCU { 'Ke\x98pt' }", E_INVALIDARG},
      {"HKCU { A = s '\xed\xa0\x80' }", E_INVALIDARG},  // a surrogate
      {"HKCU { A { val '\xc0\xaf' = s 'x' } }", E_INVALIDARG},  // an overlong '/'
  };
  const RegScriptVariables vars = {{"MODULE", "/m.so"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 60));
    RegistryEdit edit;
    std::string diagnostic;
    EXPECT_EQ(AddRegistrationScript(edit, c.script, vars, RegScriptMode::kRegister, &diagnostic),
              c.checked);
    if (c.checked != S_OK) {
      EXPECT_NE(diagnostic.find("line 1"), std::string::npos) << diagnostic;
      continue;
    }
    EXPECT_EQ(RunRegistrationScript(c.script, vars, RegScriptMode::kRegister), S_OK);
    EXPECT_EQ(RunRegistrationScript(c.script, vars, RegScriptMode::kUnregister), S_OK);
    std::vector<std::string> names;
    ASSERT_EQ(RegListSubKeys(HKEY_CURRENT_USER, "", &names), ERROR_SUCCESS);
    EXPECT_TRUE(names.empty());
  }
}

TEST(RegistrationScript, UnreadableRegistryFailsRegistrationAsAWhole) {
  RegistrySandbox sandbox;
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Before", "", "x"), ERROR_SUCCESS);
  { std::ofstream(sandbox.file(), std::ios::trunc) << "KXREG 1 5 00000000\nxxxxx"; }
  EXPECT_EQ(RunRegistrationScript(kScript, {{"MODULE", "/m.so"}}, RegScriptMode::kRegister),
            REGDB_E_READREGDB);
  std::ifstream in(sandbox.file(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "KXREG 1 5 00000000\nxxxxx");
}

TEST(TypeLibRegistration, RegisterQueryAndUnregister) {
  RegistrySandbox sandbox;
  TypeLibRegistration lib;
  lib.libid = *ParseGuid("{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}");
  lib.major_version = 1;
  lib.minor_version = 10;  // keys spell the version in hex: "1.a"
  lib.lcid = 1033;
  lib.help_string = "Sample Library";
  lib.module_path = "/opt/kx/lib/Sample.so";
  lib.interfaces = {{*ParseGuid("{7C41E2A2-3B95-4D6E-A1F8-62D0B94C5E17}"), "ISample"}};
  ASSERT_EQ(RegisterTypeLib(lib), S_OK);

  const std::string base = "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}\\1.a";
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, base), "Sample Library");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, base + "\\409\\linux64"), "/opt/kx/lib/Sample.so");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, base + "\\FLAGS"), "0");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, base + "\\HELPDIR"), "/opt/kx/lib");
  const std::string itf = "Interface\\{7C41E2A2-3B95-4D6E-A1F8-62D0B94C5E17}";
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, itf), "ISample");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, itf + "\\TypeLib"), "{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}");
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, itf + "\\TypeLib", "Version"), "1.a");

  struct Lookup {
    LCID lcid;
    HRESULT hr;
  };
  // Only 1033 is registered: 2057 finds neither its primary language (9) nor a neutral (0) entry.
  // A neutral registration, below, serves every locale.
  const Lookup lookups[] = {
      {1033, S_OK}, {2057, TYPE_E_LIBNOTREGISTERED}, {0, TYPE_E_LIBNOTREGISTERED}};
  for (const Lookup& l : lookups) {
    SCOPED_TRACE(l.lcid);
    std::string path;
    EXPECT_EQ(QueryPathOfRegTypeLib(lib.libid, 1, 10, l.lcid, &path), l.hr);
    if (l.hr == S_OK) {
      EXPECT_EQ(path, lib.module_path);
    }
  }
  TypeLibRegistration neutral = lib;
  neutral.lcid = 0;
  neutral.major_version = 2;
  neutral.interfaces.clear();
  ASSERT_EQ(RegisterTypeLib(neutral), S_OK);
  std::string path;
  EXPECT_EQ(QueryPathOfRegTypeLib(lib.libid, 2, 10, 2057, &path), S_OK);

  ASSERT_EQ(UnRegisterTypeLib(lib), S_OK);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, base));
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, itf));
  EXPECT_TRUE(
      Exists(HKEY_CLASSES_ROOT, "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}"));  // 2.a stays
  ASSERT_EQ(UnRegisterTypeLib(neutral), S_OK);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}"));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "TypeLib"));
}

TEST(RegisterServerFromScript, WritesScriptAndTypeLibTogether) {
  RegistrySandbox sandbox;
  TypeLibRegistration lib;
  lib.libid = *ParseGuid("{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}");
  lib.module_path = "/opt/kx/lib/Sample.so";
  ASSERT_EQ(RegisterServerFromScript(kScript, "/opt/kx/lib/Sample.so", &lib), S_OK);
  EXPECT_EQ(Get(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\InprocServer32"),
            "/opt/kx/lib/Sample.so");
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT,
                     "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}\\1.0\\0\\linux64"));
  EXPECT_EQ(RegisterServerFromScript(kScript, "", &lib), E_INVALIDARG);
  ASSERT_EQ(UnregisterServerFromScript(kScript, "/opt/kx/lib/Sample.so", &lib), S_OK);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}"));
}

}  // namespace
}  // namespace kx::platform
