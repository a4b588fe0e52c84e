// Reads a type library description written in the interface definition language subset of
// component/resources/korvanex.idl into the platform's LibraryDescription.
#pragma once

#include <string>
#include <string_view>

#include "kx/platform/typeinfo.h"

namespace kx::component {

/// Parses `text`. Members come out with no MemberCall: binding them to code is the caller's job.
/// E_INVALIDARG for text that breaks the grammar or describes something that cannot be served
/// (an unknown type or attribute, a retval that is not the last pointer, a coclass naming an
/// undescribed interface, two members with the same DISPID and kind); `diagnostic` then says
/// which line and why.
[[nodiscard]] kx::platform::HRESULT ParseTypeLibraryText(std::string_view text,
                                                         kx::platform::LibraryDescription* library,
                                                         std::string* diagnostic = nullptr);

/// The described interface or dispinterface with this name, or null.
[[nodiscard]] const kx::platform::InterfaceDescription* FindInterface(
    const kx::platform::LibraryDescription& library, std::u16string_view name) noexcept;
[[nodiscard]] const kx::platform::InterfaceDescription* FindInterface(
    const kx::platform::LibraryDescription& library, const kx::platform::IID& iid) noexcept;

}  // namespace kx::component
