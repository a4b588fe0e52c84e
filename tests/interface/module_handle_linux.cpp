// The module opened as the platform's activation opens it: dlopen.
#include <dlfcn.h>

#include <filesystem>

#include "object_test_support.h"

namespace kx::component::object_test {

ModuleHandle::ModuleHandle() {
  handle_ = dlopen(KX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) ADD_FAILURE() << "cannot load " << KX_MODULE_PATH << ": " << dlerror();
}

ModuleHandle::~ModuleHandle() { Close(); }

void ModuleHandle::Close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

std::string ModuleHandle::Path() { return std::filesystem::canonical(KX_MODULE_PATH).string(); }

void* ModuleHandle::Export(const char* name) const {
  return handle_ ? dlsym(handle_, name) : nullptr;
}

}  // namespace kx::component::object_test
