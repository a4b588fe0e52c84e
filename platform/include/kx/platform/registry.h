#pragma once
// A file-backed registry with the HKEY_CLASSES_ROOT and HKEY_CURRENT_USER roots.
//
// The registry has two scopes, each one file, registry.kxr, of the same form: the user's, in the
// folder named by KX_REGISTRY_DIR (default $XDG_CONFIG_HOME/kx-platform/registry, or
// ~/.config/kx-platform/registry), and the machine's, seen by every user, in the folder named by
// KX_MACHINE_REGISTRY_DIR (default /var/lib/kx-platform/registry). Reads see both merged: a key
// has the subkeys of both scopes and the values of both, the user's value winning over the
// machine's of the same name; this holds for both roots (the machine's HKEY_CURRENT_USER holds
// settings for every user). Writes go to one scope, the process's write scope (the user's
// unless SetRegistryWriteScope says otherwise); a key seen only in the other scope is created
// in the write scope when written through. A machine file the user may not read counts as
// empty; one the user may not write refuses writes with ERROR_ACCESS_DENIED.
//
// Every change is one transaction: take an exclusive lock on registry.lock, re-read the file,
// apply the change, write a new file, fsync it and rename it over the old one. Readers see
// either the old or the new file, never a mix, and two processes writing at once lose nothing.
// A file that fails its length or checksum test is reported as ERROR_REGISTRY_CORRUPT and is
// never replaced by an empty registry; every write is refused until it is repaired.
//
// Key and value names compare case-insensitively (ASCII letters) and keep the case they were
// created with; subkeys enumerate in case-insensitive name order. Texts are UTF-8. A null or
// empty value name is the key's default value. Paths use '\' between key names.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kx/platform/hresult.h"
#include "kx/platform/win32error.h"

namespace kx::platform {

struct RegistryKey;  // an open key: its root and path, checked against the handle table
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// Defined in the library rather than inline, so that a module using them has no unique symbol
// that would keep it from being unloaded.
extern HKEY const HKEY_CLASSES_ROOT;
extern HKEY const HKEY_CURRENT_USER;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_DWORD = 4;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The functions below return ERROR_SUCCESS or an error code: ERROR_FILE_NOT_FOUND (no such key
// or value), ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA (buffer too small;
// *size then holds the size needed), ERROR_NO_MORE_ITEMS (enumeration ended), ERROR_KEY_DELETED,
// ERROR_ACCESS_DENIED (writing through a key opened without write access),
// ERROR_REGISTRY_CORRUPT (torn or unreadable file), ERROR_CANTWRITE (the new file could not be
// written; the old one stays), ERROR_ACCESS_DENIED also when the write scope's folder or file
// may not be written by this user.
// Access masks are checked only for reading versus writing. Reserved, class, security and
// last-write arguments are accepted and ignored.
[[nodiscard]] LSTATUS RegCreateKeyEx(HKEY key, const char* sub_key, DWORD reserved,
                                     const char* klass, DWORD options, REGSAM sam,
                                     const void* security, PHKEY result,
                                     DWORD* disposition) noexcept;
[[nodiscard]] LSTATUS RegOpenKeyEx(HKEY key, const char* sub_key, DWORD options, REGSAM sam,
                                   PHKEY result) noexcept;
LSTATUS RegCloseKey(HKEY key) noexcept;  // ERROR_INVALID_HANDLE when closed twice
// REG_SZ data is UTF-8 with its terminating zero counted in size (a missing zero is added);
// REG_DWORD data is 4 bytes.
[[nodiscard]] LSTATUS RegSetValueEx(HKEY key, const char* value_name, DWORD reserved, DWORD type,
                                    const BYTE* data, DWORD size) noexcept;
// data may be null to ask for type and size only.
[[nodiscard]] LSTATUS RegQueryValueEx(HKEY key, const char* value_name, DWORD* reserved,
                                      DWORD* type, BYTE* data, DWORD* size) noexcept;
// name_size is in characters, including the terminating zero on input and excluding it on output.
[[nodiscard]] LSTATUS RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* name_size,
                                   DWORD* reserved, char* klass, DWORD* klass_size,
                                   void* last_write_time) noexcept;
[[nodiscard]] LSTATUS RegEnumValue(HKEY key, DWORD index, char* name, DWORD* name_size,
                                   DWORD* reserved, DWORD* type, BYTE* data,
                                   DWORD* data_size) noexcept;
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some).
[[nodiscard]] LSTATUS RegDeleteKey(HKEY key, const char* sub_key) noexcept;
[[nodiscard]] LSTATUS RegDeleteValue(HKEY key, const char* value_name) noexcept;
// Deletes sub_key with everything below it; a null sub_key empties key itself.
[[nodiscard]] LSTATUS RegDeleteTree(HKEY key, const char* sub_key) noexcept;

// ---- C++ helpers. root is HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or an open key. ----

enum class RegistryScope { kUser, kMachine };

// Folder and file of a scope's registry as the environment names them now (the user's by
// default). Empty when no folder can be found.
[[nodiscard]] std::string RegistryDirectory(RegistryScope scope = RegistryScope::kUser);
[[nodiscard]] std::string RegistryFilePath(RegistryScope scope = RegistryScope::kUser);

// The scope that every write of this process goes to (registration tools choose the machine's).
void SetRegistryWriteScope(RegistryScope scope) noexcept;
[[nodiscard]] RegistryScope RegistryWriteScope() noexcept;

// HRESULT for a registry error: REGDB_E_READREGDB for a corrupt or unreadable file,
// REGDB_E_WRITEREGDB when it could not be written, REGDB_E_KEYMISSING for a missing key or
// value, else HRESULT_FROM_WIN32.
[[nodiscard]] HRESULT HresultFromRegistryError(LSTATUS status) noexcept;

// Creates the missing keys of path, as RegSetString does.
[[nodiscard]] LSTATUS RegSetDword(HKEY root, std::string_view path, std::string_view value_name,
                                  DWORD value);
[[nodiscard]] LSTATUS RegListSubKeys(HKEY root, std::string_view path,
                                     std::vector<std::string>* names);

}  // namespace kx::platform

#include "kx/platform/registry_text.h"  // RegGetString, RegGetDword, RegSetString, RegKeyExists

namespace kx::platform {

// A list of changes applied together in one transaction: either all of them reach the file
// or none does. Operations run in order on the registry as read under the lock.
class RegistryEdit {
 public:
  RegistryEdit();
  ~RegistryEdit();
  RegistryEdit(RegistryEdit&&) noexcept;
  RegistryEdit& operator=(RegistryEdit&&) noexcept;

  void CreateKey(HKEY root, std::string_view path);
  void SetString(HKEY root, std::string_view path, std::string_view value_name,
                 std::string_view value);
  void SetDword(HKEY root, std::string_view path, std::string_view value_name, DWORD value);
  // Missing keys and values are not an error for the deletions.
  void DeleteValue(HKEY root, std::string_view path, std::string_view value_name);
  void DeleteTree(HKEY root, std::string_view path);
  // Deletes the key (with its values) only when no subkey is left under it.
  void DeleteKeyIfNoSubkeys(HKEY root, std::string_view path);

  [[nodiscard]] bool empty() const noexcept;
  // ERROR_SUCCESS, or the first failure (nothing is written then).
  [[nodiscard]] LSTATUS Commit() const;

 private:
  struct Op;
  std::vector<Op> ops_;
};

}  // namespace kx::platform
