#pragma once
// The module's lock count and class factory, the same on both sides of the platform.
#include <atomic>
#include <new>

#include "kx/platform/hresult.h"
#include "kx/platform/interfaces.h"

namespace kx::platform {

// Live objects plus IClassFactory::LockServer locks of one module. DllCanUnloadNow returns
// S_OK only when it is zero.
class ModuleLockCount {
 public:
  void Lock() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  void Unlock() noexcept { count_.fetch_sub(1, std::memory_order_acq_rel); }
  [[nodiscard]] LONG Count() const noexcept { return count_.load(std::memory_order_acquire); }
  [[nodiscard]] HRESULT CanUnloadNow() const noexcept { return Count() == 0 ? S_OK : S_FALSE; }

 private:
  std::atomic<LONG> count_{0};
};

// The class factory of one class, kept as a static object of the module (no reference count of
// its own). T is default-constructible and starts with a reference count of 0; its constructor
// locks the module's ModuleLockCount and its destructor unlocks it. LockServer counts on the
// same lock, so DllCanUnloadNow sees both. A T whose constructor is private befriends
// ClassFactory<T>.
template <typename T>
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(ModuleLockCount& lock) noexcept : lock_(lock) {}

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
    instance->AddRef();  // held across QueryInterface, which may fail
    HRESULT hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
  }

  // E_UNEXPECTED for an unlock without a lock of this factory: it would let the module unload
  // under live objects.
  HRESULT LockServer(BOOL lock) override {
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

}  // namespace kx::platform
