// The Bjerksund-Stensland family: nine scalar methods on the caller's thread and the strike skew
// on a worker thread, all for American options.
#pragma once

#include "method_arguments.h"
#include "object_state.h"

namespace kx::component {

enum class BjeMethodCode : int {
  kCallPrice = 0,
  kPutPrice = 1,
  kDelta = 2,
  kTheta = 3,
  kGamma = 4,
  kVega = 5,
  kRho = 6,
  kImpliedVolatility = 7,
  kImpliedVolatilityPut = 8,
};

/// The family dispatcher of the scalar methods. Returns E_FAIL when an error was recorded, else
/// S_OK; the call refusal of the call gate returns its own result.
[[nodiscard]] kx::platform::HRESULT BjeDispatch(ObjectState& object, BjeMethodCode code,
                                                const char* error_title,
                                                const ScalarArguments& args, OutputPlace first,
                                                OutputPlace second) noexcept;

/// BJEImpliedVolatilitySkew. Returns the recorded ResultCode.
[[nodiscard]] kx::platform::HRESULT BjeSkewDispatch(ObjectState& object, const SkewArguments& args,
                                                    const SkewArrays& arrays) noexcept;

}  // namespace kx::component
