// Test helper: registers and unregisters classes, one transaction each, and reports on standard
// output what it has committed, so that a test may kill it at any moment and check the file.
//   kx_registry_churn <user|machine> <tag> loop <count>   register <tag>.base, then class i and
//       unregister class i-1, for i < count (0: until killed); prints "B", "+i", "?i" (about to
//       unregister i) and "-i" once each step has returned
//   kx_registry_churn <user|machine> <tag> add <count>    register classes 0..count-1
// Exit status 0 only when every transaction succeeded.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kx/platform/registry.h"
#include "registry_churn.h"

namespace {

using namespace kx::platform;

void Report(char what, long index) {
  char line[32];
  int n = index < 0 ? std::snprintf(line, sizeof line, "%c\n", what)
                    : std::snprintf(line, sizeof line, "%c%ld\n", what, index);
  // Unbuffered, so that everything reported before a kill reaches the reader.
  if (write(STDOUT_FILENO, line, static_cast<std::size_t>(n)) != n) std::exit(5);
}

bool Commit(const RegistryEdit& edit, const char* what, const std::string& name) {
  LSTATUS s = edit.Commit();
  if (s == ERROR_SUCCESS) return true;
  std::fprintf(stderr, "%s %s failed: %d\n", what, name.c_str(), static_cast<int>(s));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using kx::platform::test_support::ChurnClass;
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <user|machine> <tag> <loop|add> <count>\n", argv[0]);
    return 2;
  }
  SetRegistryWriteScope(std::strcmp(argv[1], "machine") == 0 ? RegistryScope::kMachine
                                                              : RegistryScope::kUser);
  const std::string tag = argv[2];
  const bool loop = std::strcmp(argv[3], "loop") == 0;
  const long count = std::atol(argv[4]);
  if (loop) {
    ChurnClass base(tag, -1);
    if (!Commit(base.Register(), "register", base.prog_id)) return 1;
    Report('B', -1);
    for (long i = 0; count == 0 || i < count; ++i) {
      ChurnClass added(tag, i);
      if (!Commit(added.Register(), "register", added.prog_id)) return 1;
      Report('+', i);
      if (i == 0) continue;
      ChurnClass removed(tag, i - 1);
      Report('?', i - 1);
      if (!Commit(removed.Unregister(), "unregister", removed.prog_id)) return 1;
      Report('-', i - 1);
    }
    return 0;
  }
  for (long i = 0; i < count; ++i) {
    ChurnClass added(tag, i);
    if (!Commit(added.Register(), "register", added.prog_id)) return 1;
  }
  return 0;
}
