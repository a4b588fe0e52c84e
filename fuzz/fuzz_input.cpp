#include "fuzz_input.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace kx::fuzz {

namespace {

std::string registry_dir;

void RemoveRegistry() {
  std::error_code ignored;
  if (!registry_dir.empty()) std::filesystem::remove_all(registry_dir, ignored);
}

}  // namespace

std::string UsePrivateRegistry() {
  if (!registry_dir.empty()) return registry_dir;
  const bool shm = access("/dev/shm", W_OK) == 0;
  std::string pattern =
      (shm ? std::string("/dev/shm") : std::filesystem::temp_directory_path().string()) +
      "/kxfuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) FuzzFailure("cannot make a registry folder");
  registry_dir = pattern;
  setenv("KX_REGISTRY_DIR", registry_dir.c_str(), 1);
  std::atexit(RemoveRegistry);
  return registry_dir;
}

void FuzzFailure(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace kx::fuzz
