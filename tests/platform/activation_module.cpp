// kx_test_probe: a minimal in-process server for the activation tests. Its version-independent
// ProgID has only CurVer, so activating by it exercises the CurVer hop.
#include <atomic>

#include "activation_probe.h"
#include "kx/platform/module.h"

namespace kx::platform::test_support {
namespace {

ModuleLockCount module_lock;

constexpr const char* kScript = R"(
HKCR
{
  KxTest.Probe.1 = s 'Activation test probe'
  {
    CLSID = s '{5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01}'
  }
  KxTest.Probe = s 'Activation test probe'
  {
    CurVer = s 'KxTest.Probe.1'
  }
  NoRemove CLSID
  {
    ForceRemove {5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01} = s 'Activation test probe'
    {
      ProgID = s 'KxTest.Probe.1'
      VersionIndependentProgID = s 'KxTest.Probe'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
}
)";

class Probe final : public ITestProbe {
 public:
  Probe() { module_lock.Lock(); }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIidTestProbe) {
      *object = static_cast<ITestProbe*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Twice(LONG value, LONG* result) override {
    if (!result) return E_POINTER;
    *result = 2 * value;
    return S_OK;
  }
  HRESULT LiveObjects(LONG* count) override {
    if (!count) return E_POINTER;
    *count = module_lock.Count();
    return S_OK;
  }

 private:
  ~Probe() { module_lock.Unlock(); }
  std::atomic<ULONG> refs_{0};  // ClassFactory takes the first reference
};

ClassFactory<Probe> factory(module_lock);

}  // namespace
}  // namespace kx::platform::test_support

using namespace kx::platform;

KX_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != test_support::kClsidTestProbe) return CLASS_E_CLASSNOTAVAILABLE;
  return test_support::factory.QueryInterface(riid, object);
}

KX_MODULE_EXPORT HRESULT DllCanUnloadNow() { return test_support::module_lock.CanUnloadNow(); }

KX_MODULE_EXPORT HRESULT DllRegisterServer() {
  return RegisterServerFromScript(test_support::kScript,
                                  ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
}

KX_MODULE_EXPORT HRESULT DllUnregisterServer() {
  return UnregisterServerFromScript(
      test_support::kScript, ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
}
