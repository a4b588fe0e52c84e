// The registry of the interface tests on Linux: one of the program's own (the platform keeps it in
// a folder named by KX_REGISTRY_DIR), never the user's or the machine's.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "interface_test_support.h"
#include "kx/platform/guid.h"
#include "kx/platform/registry.h"

namespace kx::component::test_support {

using namespace kx::platform;

namespace {

class RegistryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kxiface-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("KX_REGISTRY_DIR", dir_.c_str(), 1);
    // Nor the machine's: an installed package must not show through.
    setenv("KX_MACHINE_REGISTRY_DIR", (dir_ + "/machine").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::string dir_;
};

[[maybe_unused]] ::testing::Environment* const registry_environment =
    ::testing::AddGlobalTestEnvironment(new RegistryEnvironment);

std::string ClassKey() { return "CLSID\\" + FormatGuid(CLSID_KvQuantorb) + "\\ProgID"; }

}  // namespace

RegisteredProgId::RegisteredProgId() {
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, ClassKey(), "", "Korvane.Quantorb.1"), ERROR_SUCCESS);
}

RegisteredProgId::~RegisteredProgId() {
  EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, ("CLSID\\" + FormatGuid(CLSID_KvQuantorb)).c_str()),
            ERROR_SUCCESS);
}

}  // namespace kx::component::test_support
