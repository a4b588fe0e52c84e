// The interface tests on Windows run on the prefix where regsvr32 registered the class (fixture
// kx_registered): the ProgID is there already, and stays for the other tests.
#include "interface_test_support.h"

namespace kx::component::test_support {

RegisteredProgId::RegisteredProgId() {
  wchar_t value[64] = {};
  DWORD size = sizeof value;
  EXPECT_EQ(::RegGetValueW(HKEY_CLASSES_ROOT,
                           L"CLSID\\{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}\\ProgID", nullptr,
                           RRF_RT_REG_SZ, nullptr, value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), L"Korvane.Quantorb.1");
}

RegisteredProgId::~RegisteredProgId() = default;

}  // namespace kx::component::test_support
