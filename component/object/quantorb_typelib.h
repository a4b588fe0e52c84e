// The KORVANELib type library as the module serves it: parsed once from the embedded TYPELIB 1,
// with every member of IKvQuantorb bound to its vtable function, ready for DispInvoke.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/regscript.h"
#include "kx/platform/typeinfo.h"

namespace kx::component {

struct KorvaneTypeLibrary {
  kx::platform::LibraryDescription library;
  const kx::platform::InterfaceDescription* quantorb = nullptr;  // IKvQuantorb, members bound
  const kx::platform::InterfaceDescription* events = nullptr;    // _IKvQuantorbEvents
  const kx::platform::CoclassDescription* coclass = nullptr;     // KvQuantorb
  kx::platform::ComPtr<kx::platform::ITypeLib> type_lib;         // over `library`
};

/// The library, loaded on first use and kept for the life of the module. Null when the embedded
/// text cannot be read or does not match the code (then `diagnostic`, if given, says why; the
/// failure is remembered, so every later call answers the same).
[[nodiscard]] const KorvaneTypeLibrary* LoadKorvaneTypeLibrary(
    std::string* diagnostic = nullptr) noexcept;

/// Builds the library from a description text: parses it, checks the identities of the library,
/// class, interface and event interface against the code's constants, and binds each member of
/// IKvQuantorb, in order, to the vtable function of the same name, kind and parameter types.
/// Every described member must have its function and every function its description.
/// E_INVALIDARG (with `diagnostic`) on any mismatch.
[[nodiscard]] kx::platform::HRESULT BuildKorvaneTypeLibrary(std::string_view text,
                                                            KorvaneTypeLibrary* out,
                                                            std::string* diagnostic);

/// What registering the library writes, for the module file at module_path.
[[nodiscard]] kx::platform::TypeLibRegistration KorvaneTypeLibRegistration(
    const KorvaneTypeLibrary& lib, std::string_view module_path);

}  // namespace kx::component
