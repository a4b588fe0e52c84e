// The four exports of the KorvaneX module; everything else of the component is reached through
// the class object they hand out.
#include <string>

#include "class_factory.h"
#include "embedded_resources.h"
#include "kx/platform/module.h"
#include "quantorb_typelib.h"
#include "worker_thread.h"

using namespace kx::platform;
using namespace kx::component;

namespace {

inline constexpr int kRegistrationScriptId = 102;

// The script, this module's path and the type library's registration, or the failure.
struct Registration {
  HRESULT hr = S_OK;
  std::string_view script;
  std::string module_path;
  TypeLibRegistration typelib;
};

Registration PrepareRegistration(const void* own_function) noexcept {
  Registration r;
  try {
    const auto script = FindEmbeddedText("REGISTRY", kRegistrationScriptId);
    const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
    if (!script || !lib) {
      r.hr = TYPE_E_CANTLOADLIBRARY;
      return r;
    }
    r.script = *script;
    r.module_path = ModulePathOf(own_function);
    if (r.module_path.empty()) {
      r.hr = E_UNEXPECTED;
      return r;
    }
    r.typelib = KorvaneTypeLibRegistration(*lib, r.module_path);
  } catch (const std::exception&) {
    r.hr = E_OUTOFMEMORY;
  }
  return r;
}

}  // namespace

KX_MODULE_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  return GetComponentClassObject(clsid, riid, object);
}

KX_MODULE_EXPORT HRESULT WINAPI DllCanUnloadNow() {
  if (ComponentModuleLocks().CanUnloadNow() != S_OK) return S_FALSE;
  // Without objects no call runs, so a worker left is only lingering, and ends within moments;
  // the module must not be unmapped under its code.
  WaitUntilNoWorker();
  return S_OK;
}

KX_MODULE_EXPORT HRESULT WINAPI DllRegisterServer() {
  const Registration r = PrepareRegistration(reinterpret_cast<const void*>(&DllRegisterServer));
  if (FAILED(r.hr)) return r.hr;
  return RegisterServerFromScript(r.script, r.module_path, &r.typelib);
}

KX_MODULE_EXPORT HRESULT WINAPI DllUnregisterServer() {
  const Registration r = PrepareRegistration(reinterpret_cast<const void*>(&DllUnregisterServer));
  if (FAILED(r.hr)) return r.hr;
  return UnregisterServerFromScript(r.script, r.module_path, &r.typelib);
}
