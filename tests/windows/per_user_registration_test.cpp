// Registration for one user, without an administrator: every class key under
// HKEY_CURRENT_USER\Software\Classes, nothing machine-wide, and removal from there. (Creating
// the class from there is the system's part; Wine 8's COM does not read the user's classes.)
#include <gtest/gtest.h>

#include <string>

#include "kx/platform/registry.h"
#include "object_test_support.h"

namespace kx::component::object_test {
namespace {

using namespace kx::platform;

bool KeyExists(HKEY root, const std::string& path) {
  bool exists = false;
  EXPECT_EQ(RegKeyExists(root, path, &exists), ERROR_SUCCESS) << path;
  return exists;
}

TEST(PerUserRegistration, WritesAndRemovesOnlyTheUsersClasses) {
  ModuleHandle module;
  ASSERT_EQ(module.Unregister(), S_OK) << "no machine-wide registration left from other tests";
  ASSERT_EQ(SetRegistryWriteScope(RegistryScope::kUser), ERROR_SUCCESS);
  const HRESULT registered = module.Register();
  const std::string user = "Software\\Classes\\", machine = "Software\\Classes\\";
  const char* const keys[] = {"CLSID\\{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}\\InprocServer32",
                              "Korvane.Quantorb\\CurVer", "Korvane.Quantorb.1\\CLSID",
                              "TypeLib\\{7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}\\1.0"};
  EXPECT_EQ(registered, S_OK);
  for (const char* key : keys) {
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, user + key)) << key;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, machine + key)) << key;
  }
  std::string server;
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, user + keys[0], "", &server), ERROR_SUCCESS);
  EXPECT_EQ(server, ModuleHandle::Path());

  EXPECT_EQ(module.Unregister(), S_OK);
  EXPECT_EQ(SetRegistryWriteScope(RegistryScope::kMachine), ERROR_SUCCESS);
  for (const char* key : keys) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, user + key)) << key;
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\CLSID")) << "the parent stays";
}

}  // namespace
}  // namespace kx::component::object_test
