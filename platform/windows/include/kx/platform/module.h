#pragma once
// What an in-process server DLL uses to implement its four exports (listed in its .def file).
#include <atomic>
#include <new>
#include <string>
#include <string_view>

#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/regscript.h"

// The .def file names the exports; the functions only need C names (and the system's calling
// convention: on 32-bit the linker matches the .def's plain names to their __stdcall ones).
#define KX_MODULE_EXPORT extern "C"

namespace kx::platform {

class ModuleLockCount {
 public:
  void Lock() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  void Unlock() noexcept { count_.fetch_sub(1, std::memory_order_acq_rel); }
  [[nodiscard]] LONG Count() const noexcept { return count_.load(std::memory_order_acquire); }
  [[nodiscard]] HRESULT CanUnloadNow() const noexcept { return Count() == 0 ? S_OK : S_FALSE; }

 private:
  std::atomic<LONG> count_{0};
};

// The class factory of one class, a static object of the module (see the Linux side's module.h).
template <typename T>
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(ModuleLockCount& lock) noexcept : lock_(lock) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    T* instance = nullptr;
    try {
      instance = new T();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
    instance->AddRef();
    HRESULT hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      server_locks_.fetch_add(1, std::memory_order_relaxed);
      lock_.Lock();
      return S_OK;
    }
    LONG held = server_locks_.load(std::memory_order_relaxed);
    do {
      if (held <= 0) return E_UNEXPECTED;
    } while (!server_locks_.compare_exchange_weak(held, held - 1, std::memory_order_relaxed));
    lock_.Unlock();
    return S_OK;
  }

 private:
  ModuleLockCount& lock_;
  std::atomic<LONG> server_locks_{0};
};

// Full path (UTF-8) of the DLL or program that contains address; empty when unknown.
[[nodiscard]] std::string ModulePathOf(const void* address);

// DllRegisterServer / DllUnregisterServer: the script with %MODULE% = module_path (plus extra
// variables), then the type library when given.
[[nodiscard]] HRESULT RegisterServerFromScript(std::string_view script,
                                               std::string_view module_path,
                                               const TypeLibRegistration* typelib = nullptr,
                                               const RegScriptVariables& extra = {});
[[nodiscard]] HRESULT UnregisterServerFromScript(std::string_view script,
                                                 std::string_view module_path,
                                                 const TypeLibRegistration* typelib = nullptr,
                                                 const RegScriptVariables& extra = {});

}  // namespace kx::platform
