#pragma once
// Type information: the system's ITypeLib/ITypeInfo, read from the module's TYPELIB 1 resource,
// and the system's DispInvoke over it. A description here is the type information itself; the
// Linux side builds its own from the same .idl text instead.
#include "kx/platform/comptr.h"
#include "kx/platform/interfaces.h"

namespace kx::platform {

using ::DispGetIDsOfNames;
using ::DispInvoke;
using ::ITypeInfo;
using ::ITypeLib;
using ::TLIBATTR;
using ::TYPEATTR;
using ::FUNCDESC;

// The vtable half of a dual interface (TKIND_INTERFACE), which DispInvoke calls through.
struct InterfaceDescription {
  ComPtr<ITypeInfo> info;
};
struct CoclassDescription {
  ComPtr<ITypeInfo> info;
};
struct LibraryDescription {
  ComPtr<ITypeLib> lib;
};

// DISPIDs of member names, as the system's DispGetIDsOfNames.
[[nodiscard]] HRESULT DispGetIDsOfNames(const InterfaceDescription& description, LPOLESTR* names,
                                        UINT count, DISPID* ids) noexcept;
// Calls the member through object's vtable, as the system's DispInvoke (which also turns a failed
// member's error information into EXCEPINFO and DISP_E_EXCEPTION).
[[nodiscard]] HRESULT DispInvoke(void* object, const InterfaceDescription& description,
                                 DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT* arg_err) noexcept;

// The type library embedded as TYPELIB 1 in the module that contains address (not registered).
[[nodiscard]] HRESULT LoadModuleTypeLib(const void* address, ITypeLib** lib) noexcept;
// The vtable half of the dual interface iid of lib.
[[nodiscard]] HRESULT GetDualInterfaceTypeInfo(ITypeLib* lib, REFIID iid, ITypeInfo** info) noexcept;

}  // namespace kx::platform
