#pragma once
// What an in-process server DLL uses to implement its four exports (listed in its .def file).
#include <string>
#include <string_view>

#include "kx/platform/class_factory.h"
#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/regscript.h"

// The .def file names the exports; the functions only need C names.
#define KX_MODULE_EXPORT extern "C"

namespace kx::platform {

// Full path (UTF-8) of the DLL or program that contains address; empty when unknown.
[[nodiscard]] std::string ModulePathOf(const void* address);

// DllRegisterServer / DllUnregisterServer: the script with %MODULE% = module_path (plus extra
// variables), then the type library when given.
[[nodiscard]] HRESULT RegisterServerFromScript(std::string_view script,
                                               std::string_view module_path,
                                               const TypeLibRegistration* typelib = nullptr,
                                               const RegScriptVariables& extra = {});
[[nodiscard]] HRESULT UnregisterServerFromScript(std::string_view script,
                                                 std::string_view module_path,
                                                 const TypeLibRegistration* typelib = nullptr,
                                                 const RegScriptVariables& extra = {});

}  // namespace kx::platform
