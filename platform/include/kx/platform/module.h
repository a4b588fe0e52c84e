#pragma once
// What an in-process server module uses to implement its four exports:
//   KX_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
//   KX_MODULE_EXPORT HRESULT DllCanUnloadNow();
//   KX_MODULE_EXPORT HRESULT DllRegisterServer();
//   KX_MODULE_EXPORT HRESULT DllUnregisterServer();
#include <string>
#include <string_view>

#include "kx/platform/class_factory.h"
#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/regscript.h"

#define KX_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace kx::platform {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

inline constexpr const char* kDllGetClassObjectName = "DllGetClassObject";
inline constexpr const char* kDllCanUnloadNowName = "DllCanUnloadNow";
inline constexpr const char* kDllRegisterServerName = "DllRegisterServer";
inline constexpr const char* kDllUnregisterServerName = "DllUnregisterServer";

// Full path of the loaded file (module or program) that contains address; empty when unknown.
// A module passes the address of one of its own functions.
[[nodiscard]] std::string ModulePathOf(const void* address);

// DllRegisterServer / DllUnregisterServer in one call: the script with %MODULE% = module_path
// (plus extra variables) and, when typelib is given, the type library, all in one registry
// transaction. Results as RunRegistrationScript.
[[nodiscard]] HRESULT RegisterServerFromScript(std::string_view script,
                                               std::string_view module_path,
                                               const TypeLibRegistration* typelib = nullptr,
                                               const RegScriptVariables& extra = {});
[[nodiscard]] HRESULT UnregisterServerFromScript(std::string_view script,
                                                 std::string_view module_path,
                                                 const TypeLibRegistration* typelib = nullptr,
                                                 const RegScriptVariables& extra = {});

}  // namespace kx::platform
