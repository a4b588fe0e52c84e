#pragma once
// IidOf<I>(): the identifier of interface I, as ComPtr asks for it.
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

}  // namespace kx::platform
