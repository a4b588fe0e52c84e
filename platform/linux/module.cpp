// Helpers behind a module's four exports.
#include "kx/platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

namespace kx::platform {

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  // A module loaded by a relative name reports that name; the registry needs a full path.
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return info.dli_fname;
  return resolved;
}

namespace {

HRESULT RunServerScript(std::string_view script, std::string_view module_path,
                        const TypeLibRegistration* typelib, const RegScriptVariables& extra,
                        RegScriptMode mode) {
  if (module_path.empty()) return E_INVALIDARG;
  try {
    RegScriptVariables variables = extra;
    variables.emplace_back("MODULE", std::string(module_path));
    RegistryEdit edit;
    if (HRESULT hr = AddRegistrationScript(edit, script, variables, mode); FAILED(hr)) return hr;
    if (typelib) {
      if (mode == RegScriptMode::kRegister) {
        AddTypeLibRegistration(edit, *typelib);
      } else {
        AddTypeLibUnregistration(edit, *typelib);
      }
    }
    return HresultFromRegistryError(edit.Commit());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT RegisterServerFromScript(std::string_view script, std::string_view module_path,
                                 const TypeLibRegistration* typelib,
                                 const RegScriptVariables& extra) {
  return RunServerScript(script, module_path, typelib, extra, RegScriptMode::kRegister);
}

HRESULT UnregisterServerFromScript(std::string_view script, std::string_view module_path,
                                   const TypeLibRegistration* typelib,
                                   const RegScriptVariables& extra) {
  return RunServerScript(script, module_path, typelib, extra, RegScriptMode::kUnregister);
}

}  // namespace kx::platform
