#pragma once
// Owning pointer to an interface: one reference held, released on destruction. Both sides of the
// platform share it; how an interface's identifier is found is each side's iid_of.h.
#include <cstddef>
#include <utility>

#include "kx/platform/iid_of.h"
#include "kx/platform/unknown.h"

namespace kx::platform {

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference (AddRef); use Attach to adopt one already owned.
  ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept { std::swap(p_, other.p_); return *this; }
  ~ComPtr() { Reset(); }

  [[nodiscard]] T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Releases the current pointer and returns the slot for an out-parameter that hands over a
  // reference (QueryInterface, CreateX(..., &p)).
  [[nodiscard]] T** put() noexcept { Reset(); return &p_; }
  [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // Adopts a reference the caller owns (no AddRef).
  void Attach(T* p) noexcept { Reset(); p_ = p; }
  // Hands the reference to the caller (no Release).
  [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  // QueryInterface for U. E_POINTER when this is null; E_NOINTERFACE as the object answers.
  template <class U>
  [[nodiscard]] HRESULT As(ComPtr<U>* out) const noexcept {
    if (!out) return E_POINTER;
    if (!p_) { out->Reset(); return E_POINTER; }
    return p_->QueryInterface(IidOf<U>(), out->put_void());
  }
  // QueryInterface for U, or null.
  template <class U>
  [[nodiscard]] ComPtr<U> As() const noexcept {
    ComPtr<U> out;
    (void)As(&out);
    return out;
  }
  // Writes an AddRef'd copy to *out (which may then be handed to a caller).
  [[nodiscard]] HRESULT CopyTo(T** out) const noexcept {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// Writes an AddRef'd pointer to *object for QueryInterface implementations.
template <class I>
HRESULT ReturnInterface(I* p, void** object) noexcept {
  *object = p;
  p->AddRef();
  return S_OK;
}

}  // namespace kx::platform
