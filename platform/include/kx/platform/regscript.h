#pragma once
// Registration scripts: a small text that says which keys and values registration writes and
// unregistration removes.
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17} = s 'Some Control'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//         MiscStatus = s '0' { '1' = s '132497' }
//       }
//     }
//   }
//   HKCU { NoRemove Software { ForceRemove Addin { val LoadBehavior = d '3' } } }
//
// Roots: HKCR / HKEY_CLASSES_ROOT, HKCU / HKEY_CURRENT_USER. A key is a name (bare, quoted with
// '...' when it has blanks or braces, or a bare {GUID}), optionally "= s 'text'" (default value,
// string) or "= d 'number'" (DWORD, decimal or 0x hex), optionally followed by { children }.
// Block braces stand apart from names by blanks. Children are keys or "val Name = s|d '...'"
// named values. Flags before a key name:
//   ForceRemove  registration deletes the key's whole tree before writing it ("replaced whole");
//                unregistration deletes the whole tree;
//   NoRemove     unregistration leaves the key (and its values) in place, but still walks its
//                children;
//   Delete       registration deletes the key's tree and writes nothing; unregistration ignores it.
// A plain key is removed by unregistration, with the values the script gave it, once its listed
// children are gone and no other subkey is left under it.
// In quoted texts '' stands for one quote; %NAME% is replaced by the variable NAME (%MODULE% is
// the module's full path) and %% by one percent sign. An unknown variable is an error.
// Text after // to the end of a line is a comment.
//
// Each run is one registry transaction: either every change of the script reaches the registry
// or none does.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/registry.h"

namespace kx::platform {

using RegScriptVariables = std::vector<std::pair<std::string, std::string>>;  // name, value

enum class RegScriptMode { kRegister, kUnregister };

// Checks the script and adds its changes to edit without committing. E_INVALIDARG on a syntax
// error or an unknown variable; diagnostic (optional) then says which line and why.
[[nodiscard]] HRESULT AddRegistrationScript(RegistryEdit& edit, std::string_view script,
                                            const RegScriptVariables& variables, RegScriptMode mode,
                                            std::string* diagnostic = nullptr);

// Parses and applies the script in one transaction. E_INVALIDARG for a bad script,
// REGDB_E_READREGDB / REGDB_E_WRITEREGDB when the registry could not be read or written.
[[nodiscard]] HRESULT RunRegistrationScript(std::string_view script,
                                            const RegScriptVariables& variables, RegScriptMode mode,
                                            std::string* diagnostic = nullptr);

// What type-library registration writes, passed as plain values:
//   HKCR\TypeLib\{libid}\<major>.<minor> = help string
//   HKCR\TypeLib\{libid}\<major>.<minor>\FLAGS = flags (decimal), \HELPDIR = help folder,
//   HKCR\TypeLib\{libid}\<major>.<minor>\<lcid in hex>\linux64 = module path
//   and for each dual or dispatch interface:
//   HKCR\Interface\{iid} = name, \ProxyStubClsid32 = "{00020424-0000-0000-C000-000000000046}",
//   \TypeLib = {libid} with the value Version = "<major>.<minor>".
struct TypeLibInterface {
  IID iid;
  std::string name;
};
struct TypeLibRegistration {
  GUID libid;
  WORD major_version = 1;
  WORD minor_version = 0;
  LCID lcid = 0;
  std::string help_string;
  std::string module_path;  // the file holding the library (the module itself)
  std::string help_dir;     // empty: the module's folder
  WORD flags = 0;
  std::vector<TypeLibInterface> interfaces;
};

inline constexpr const char* kTypeLibPlatformKey = "linux64";

// Add the type library's keys to an edit (registration), or their removal (unregistration:
// the version key and the interface keys; the {libid} key goes once no version is left).
void AddTypeLibRegistration(RegistryEdit& edit, const TypeLibRegistration& lib);
void AddTypeLibUnregistration(RegistryEdit& edit, const TypeLibRegistration& lib);

[[nodiscard]] HRESULT RegisterTypeLib(const TypeLibRegistration& lib);
[[nodiscard]] HRESULT UnRegisterTypeLib(const TypeLibRegistration& lib);
// The module path registered for the library: TYPE_E_LIBNOTREGISTERED when absent.
[[nodiscard]] HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD major_version, WORD minor_version,
                                            LCID lcid, std::string* path);

}  // namespace kx::platform
