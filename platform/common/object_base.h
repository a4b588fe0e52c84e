#pragma once
// Reference counting and QueryInterface shared by the runtime's own objects (internal).
#include <atomic>

#include "kx/platform/comptr.h"
#include "kx/platform/hresult.h"

namespace kx::platform::internal {

// Starts at one reference, owned by the creator.
class RefCount {
 public:
  ULONG Add() noexcept { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // The count after the release; the caller deletes the object at zero.
  ULONG Drop() noexcept { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

 private:
  std::atomic<ULONG> count_{1};
};

// The IUnknown of a heap object that implements one interface: QueryInterface answers IUnknown,
// Interface and the interfaces Interface derives from (listed in Bases), all with the Interface
// pointer; the count starts at one reference, owned by the creator; the last Release deletes the
// Derived object, whose private destructor befriends this class.
template <class Derived, class Interface, class... Bases>
class ObjectBase : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IidOf<Interface>() || (... || (riid == IidOf<Bases>()))) {
      return ReturnInterface(static_cast<Interface*>(this), object);
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.Add(); }
  ULONG Release() override {
    const ULONG n = refs_.Drop();
    if (n == 0) delete static_cast<Derived*>(this);
    return n;
  }

 protected:
  ObjectBase() = default;
  ~ObjectBase() = default;

 private:
  RefCount refs_;
};

}  // namespace kx::platform::internal
