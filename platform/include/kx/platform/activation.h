#pragma once
// Apartments and in-process activation through the registry:
// HKCR\<ProgID>\CLSID (or \CurVer -> that ProgID), HKCR\CLSID\{clsid}\InprocServer32 (the module),
// then the module's exported DllGetClassObject. Loaded modules stay in a process-wide table until
// CoFreeUnusedLibraries finds that their DllCanUnloadNow returns S_OK.
#include <string>
#include <string_view>

#include "kx/platform/bstr.h"
#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/unknown.h"

namespace kx::platform {

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Per-thread, counted. S_OK on the thread's first call, S_FALSE on later ones,
// RPC_E_CHANGED_MODE when the model differs from the thread's first call.
// Activation also works on a thread that never called it.
[[nodiscard]] HRESULT CoInitialize(void* reserved) noexcept;
[[nodiscard]] HRESULT CoInitializeEx(void* reserved, DWORD coinit) noexcept;
void CoUninitialize() noexcept;

// "{7C41E2A1-...}" or a ProgID (as the platform's CLSIDFromString accepts both).
// CO_E_CLASSSTRING for text that is neither; E_POINTER for null pointers.
[[nodiscard]] HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) noexcept;
// Follows CurVer from a version-independent ProgID. CO_E_CLASSSTRING when the ProgID is not
// registered, REGDB_E_READREGDB when the registry is unreadable.
[[nodiscard]] HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid) noexcept;
[[nodiscard]] HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) noexcept;  // UTF-8
// HKCR\CLSID\{clsid}\ProgID as a CoTaskMemAlloc'd text; REGDB_E_CLASSNOTREG when absent.
[[nodiscard]] HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) noexcept;
// CoTaskMemAlloc'd "{...}" text.
[[nodiscard]] HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) noexcept;
// Writes "{...}" with its zero into buffer; returns the characters written (39) or 0 when
// buffer holds fewer than 39.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) noexcept;

// Only CLSCTX_INPROC_SERVER classes exist here; other contexts alone give REGDB_E_CLASSNOTREG.
// Results: REGDB_E_CLASSNOTREG (no such class or no InprocServer32), REGDB_E_READREGDB,
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the module cannot be loaded, CO_E_ERRORINDLL when
// it has no DllGetClassObject, else what the module's entry point returns.
[[nodiscard]] HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info,
                                       REFIID riid, void** object) noexcept;
// CoGetClassObject for IClassFactory, then CreateInstance(outer, riid, object).
[[nodiscard]] HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                       void** object) noexcept;
// Unloads each loaded module whose DllCanUnloadNow returns S_OK (a module without that export
// stays loaded).
void CoFreeUnusedLibraries() noexcept;

// Whether the module file at path (as registered) is loaded now; for tests and diagnostics.
[[nodiscard]] bool IsModuleLoaded(std::string_view path) noexcept;

}  // namespace kx::platform
