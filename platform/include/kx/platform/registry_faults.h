#pragma once
// Test seam: the system calls the registry makes on its files, replaceable so that tests can
// make a write, fsync, rename or open fail at a chosen moment. Not for production use.
#include <sys/types.h>

#include <cstddef>

namespace kx::platform {

struct RegistryFileOps {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};

// The system's own calls.
[[nodiscard]] const RegistryFileOps& SystemRegistryFileOps() noexcept;
// Installs ops (which must outlive their use); null restores the system's calls.
void SetRegistryFileOpsForTesting(const RegistryFileOps* ops) noexcept;

}  // namespace kx::platform
