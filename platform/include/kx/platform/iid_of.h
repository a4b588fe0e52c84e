#pragma once
// IidOf<I>(): the identifier of interface I, as ComPtr asks for it.
#include <type_traits>

#include "kx/platform/unknown.h"

namespace kx::platform {

// The identifier of interface I: IID_IUnknown, IID_IDispatch, or I::kIid (every interface of
// interfaces.h and typeinfo.h declares one; a component's own interfaces should too).
template <class I>
constexpr const IID& IidOf() noexcept {
  if constexpr (std::is_same_v<I, IUnknown>) {
    return IID_IUnknown;
  } else if constexpr (std::is_same_v<I, IDispatch>) {
    return IID_IDispatch;
  } else {
    return I::kIid;
  }
}

}  // namespace kx::platform
