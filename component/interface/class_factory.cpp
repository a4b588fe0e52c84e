#include "class_factory.h"

#include <atomic>

#include "ikvquantorb.h"
#include "kv_quantorb.h"
#include "kx/platform/interfaces.h"

namespace kx::component {

using namespace kx::platform;

namespace {

// One static factory per module. Like the platform's own class objects it is not counted as a
// live object: a client that wants the module kept loaded between creations calls LockServer.
class KvQuantorbFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    return KvQuantorb::CreateInstance(outer, riid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      server_locks_.fetch_add(1);
      ComponentModuleLocks().Lock();
      return S_OK;
    }
    // An unlock without a lock would let the module unload under live objects.
    LONG held = server_locks_.load();
    do {
      if (held <= 0) return E_UNEXPECTED;
    } while (!server_locks_.compare_exchange_weak(held, held - 1));
    ComponentModuleLocks().Unlock();
    return S_OK;
  }

 private:
  std::atomic<LONG> server_locks_{0};
};

KvQuantorbFactory g_factory;

}  // namespace

ModuleLockCount& ComponentModuleLocks() noexcept {
  static ModuleLockCount locks;
  return locks;
}

HRESULT GetComponentClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_KvQuantorb) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, object);
}

}  // namespace kx::component
