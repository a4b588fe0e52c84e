// kxregsvr [-u] <module>: loads an in-process server module and calls its DllRegisterServer
// (or, with -u, DllUnregisterServer), printing the result code's name. Exit status 0 on success.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "kx/platform/hresult.h"
#include "kx/platform/module.h"
#include "kx/platform/registry.h"

int main(int argc, char** argv) {
  using namespace kx::platform;
  bool unregister = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) {
      unregister = true;
    } else if (!path && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: kxregsvr [-u] <module.so>\n");
    return 2;
  }
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
  if (FAILED(hr)) std::fprintf(stderr, "kxregsvr: registry file %s\n", RegistryFilePath().c_str());
  dlclose(module);
  return FAILED(hr) ? 1 : 0;
}
