// The class object of KvQuantorb and the module's count of live objects and server locks, which
// the module's DllGetClassObject and DllCanUnloadNow answer from.
#pragma once

#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/module.h"

namespace kx::component {

/// Live KvQuantorb objects plus IClassFactory::LockServer locks.
[[nodiscard]] kx::platform::ModuleLockCount& ComponentModuleLocks() noexcept;

/// The class object of KvQuantorb: a static of the module, not reference counted.
[[nodiscard]] kx::platform::IClassFactory& ComponentClassFactory() noexcept;

/// DllGetClassObject: the class factory of KvQuantorb queried for riid;
/// CLASS_E_CLASSNOTAVAILABLE for any other class.
[[nodiscard]] kx::platform::HRESULT GetComponentClassObject(kx::platform::REFCLSID clsid,
                                                            kx::platform::REFIID riid,
                                                            void** object) noexcept;

}  // namespace kx::component
