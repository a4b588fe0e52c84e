#pragma once
// Registration scripts (the same text as on the Linux side, see its regscript.h for the syntax)
// run against the system's registry, and type-library registration by the system.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"

namespace kx::platform {

using RegScriptVariables = std::vector<std::pair<std::string, std::string>>;  // name, value

enum class RegScriptMode { kRegister, kUnregister };

// Parses the whole script first (E_INVALIDARG with diagnostic on a syntax error or an unknown
// variable; nothing is written then), then applies it. REGDB_E_WRITEREGDB when a key or value
// cannot be written; the keys written until then stay (the system's registry has no cheap
// transaction).
[[nodiscard]] HRESULT RunRegistrationScript(std::string_view script,
                                            const RegScriptVariables& variables, RegScriptMode mode,
                                            std::string* diagnostic = nullptr);

// The type library inside the module file module_path, registered by the system
// (RegisterTypeLib / UnRegisterTypeLib: TypeLib\{libid}, Interface\{iid} keys).
struct TypeLibRegistration {
  GUID libid{};
  WORD major_version = 1;
  WORD minor_version = 0;
  LCID lcid = 0;
  std::string module_path;
};

[[nodiscard]] HRESULT RegisterTypeLib(const TypeLibRegistration& lib);
[[nodiscard]] HRESULT UnRegisterTypeLib(const TypeLibRegistration& lib);
// The module path registered for the library (UTF-8): TYPE_E_LIBNOTREGISTERED when absent.
[[nodiscard]] HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major_version, WORD minor_version,
                                            LCID lcid, std::string* path);

}  // namespace kx::platform
