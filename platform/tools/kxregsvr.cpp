// kxregsvr [-u] [--machine] <module>: loads an in-process server module and calls its
// DllRegisterServer (or, with -u, DllUnregisterServer), printing the result code's name and the
// registry file written. Exit status 0 on success.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "kx/platform/hresult.h"
#include "kx/platform/module.h"
#include "kx/platform/registry.h"

#ifndef KX_VERSION
#define KX_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage = "usage: kxregsvr [-u] [--machine] <module.so>\n";

void PrintHelp() {
  std::printf(
      "%s\n"
      "Registers an in-process server module: loads it and calls its DllRegisterServer\n"
      "(or DllUnregisterServer with -u).\n\n"
      "  -u, --unregister  remove the module's registration\n"
      "  --machine         write the machine-wide registry, seen by every user\n"
      "                    ($KX_MACHINE_REGISTRY_DIR, default /var/lib/kx-platform/registry)\n"
      "                    instead of the user's ($KX_REGISTRY_DIR, default\n"
      "                    ~/.config/kx-platform/registry)\n"
      "  -h, --help        show this help and exit\n"
      "  --version         show the version and exit\n\n"
      "Exit status: 0 success, 1 the module's call failed, 2 bad arguments, 3 the module\n"
      "cannot be loaded, 4 it has no registration entry point.\n",
      kUsage);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kx::platform;
  bool unregister = false;
  bool machine = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      PrintHelp();
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("kxregsvr %s\n", KX_VERSION);
      return 0;
    }
    if (std::strcmp(arg, "-u") == 0 || std::strcmp(arg, "--unregister") == 0) {
      unregister = true;
    } else if (std::strcmp(arg, "--machine") == 0) {
      machine = true;
    } else if (!path && arg[0] != '-') {
      path = arg;
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const RegistryScope scope = machine ? RegistryScope::kMachine : RegistryScope::kUser;
  SetRegistryWriteScope(scope);
  // A bare file name would make dlopen search the library path instead of the current folder.
  std::string file = std::strchr(path, '/') ? path : std::string("./") + path;
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "kxregsvr: cannot load %s: %s\n", path, dlerror());
    return 3;
  }
  const char* entry = unregister ? kDllUnregisterServerName : kDllRegisterServerName;
  auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(module, entry));
  if (!fn) {
    std::fprintf(stderr, "kxregsvr: %s has no %s\n", path, entry);
    dlclose(module);
    return 4;
  }
  HRESULT hr = fn();
  std::printf("%s %s: %s (0x%08X)\n", entry, path, HresultName(hr), static_cast<unsigned>(hr));
  const std::string registry = RegistryFilePath(scope);
  if (SUCCEEDED(hr)) {
    std::printf("registry file %s\n", registry.c_str());
  } else {
    std::fprintf(stderr, "kxregsvr: registry file %s\n", registry.c_str());
    if (hr == E_ACCESSDENIED) {
      std::fprintf(stderr, "kxregsvr: this user may not write it%s\n",
                   machine ? " (the machine's registry needs root)" : "");
    }
  }
  dlclose(module);
  return FAILED(hr) ? 1 : 0;
}
