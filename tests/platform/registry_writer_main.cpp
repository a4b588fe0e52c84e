// Test helper: writes <count> DWORD values, one transaction each, under
// HKCU\Software\KxConcurrency\<prefix><i>, so that two copies run at once can show that
// concurrent writers lose nothing. Exit status 0 only when every write succeeded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kx/platform/registry.h"

int main(int argc, char** argv) {
  using namespace kx::platform;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <prefix> <count>\n", argv[0]);
    return 2;
  }
  const std::string prefix = argv[1];
  const int count = std::atoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    LSTATUS s =
        RegSetDword(HKEY_CURRENT_USER, "Software\\KxConcurrency\\" + prefix + std::to_string(i),
                    "Index", static_cast<DWORD>(i));
    if (s != ERROR_SUCCESS) {
      std::fprintf(stderr, "write %d failed: %d\n", i, static_cast<int>(s));
      return 1;
    }
  }
  return 0;
}
