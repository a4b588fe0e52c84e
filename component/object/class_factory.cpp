#include "class_factory.h"

#include "ikvquantorb.h"
#include "kv_quantorb.h"

namespace kx::component {

using namespace kx::platform;

namespace {

// One static factory per module. Like the platform's own class objects it is not counted as a
// live object: a client that wants the module kept loaded between creations calls LockServer.
ClassFactory<KvQuantorb>& Factory() noexcept {
  static ClassFactory<KvQuantorb> factory(ComponentModuleLocks());
  return factory;
}

}  // namespace

ModuleLockCount& ComponentModuleLocks() noexcept {
  static ModuleLockCount locks;
  return locks;
}

IClassFactory& ComponentClassFactory() noexcept { return Factory(); }

HRESULT GetComponentClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_KvQuantorb) return CLASS_E_CLASSNOTAVAILABLE;
  return Factory().QueryInterface(riid, object);
}

}  // namespace kx::component
