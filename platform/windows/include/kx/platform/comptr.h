#pragma once
// Owning pointer to an interface: one reference held, released on destruction.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "kx/platform/unknown.h"

namespace kx::platform {

// The identifier of interface I: I::kIid for the component's own interfaces, the compiler's
// __uuidof for the system's.
template <class I>
constexpr const IID& IidOf() noexcept {
  if constexpr (requires { I::kIid; }) {
    return I::kIid;
  } else {
    return __uuidof(I);
  }
}

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept { std::swap(p_, other.p_); return *this; }
  ~ComPtr() { Reset(); }

  [[nodiscard]] T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  [[nodiscard]] T** put() noexcept { Reset(); return &p_; }
  [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  void Attach(T* p) noexcept { Reset(); p_ = p; }
  [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

  template <class U>
  [[nodiscard]] HRESULT As(ComPtr<U>* out) const noexcept {
    if (!out) return E_POINTER;
    if (!p_) { out->Reset(); return E_POINTER; }
    return p_->QueryInterface(IidOf<U>(), out->put_void());
  }
  template <class U>
  [[nodiscard]] ComPtr<U> As() const noexcept {
    ComPtr<U> out;
    (void)As(&out);
    return out;
  }
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

template <class I>
HRESULT ReturnInterface(I* p, void** object) noexcept {
  *object = p;
  p->AddRef();
  return S_OK;
}

}  // namespace kx::platform
