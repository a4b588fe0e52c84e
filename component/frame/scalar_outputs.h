// The output locations of a scalar method (the client's bound places, scratch for the others) and
// the frame steps that every scalar method takes with them.
#pragma once

#include <array>
#include <cstddef>

#include "kx/models/common.h"
#include "method_arguments.h"
#include "method_frame.h"

namespace kx::component {

template <std::size_t N>
class OutputSet {
 public:
  explicit OutputSet(const std::array<OutputPlace, N>& places) noexcept {
    for (std::size_t i = 0; i < N; ++i) {
      if (places[i].bound && !places[i].location) missing_ = true;
      locations_[i] = places[i].bound && places[i].location ? places[i].location : &scratch_[i];
    }
  }
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  /// Whether the client passed a null pointer for one of the method's outputs.
  [[nodiscard]] bool AnyMissing() const noexcept { return missing_; }
  [[nodiscard]] double& operator[](std::size_t i) noexcept { return *locations_[i]; }
  [[nodiscard]] double* location(std::size_t i) noexcept { return locations_[i]; }
  /// The value of every output when the arguments fail validation.
  void FillNotComputable() noexcept {
    for (double* location : locations_) *location = kx::models::kNotComputable;
  }

 private:
  std::array<double*, N> locations_{};
  std::array<double, N> scratch_{};
  bool missing_ = false;
};

/// The two output locations of a Black-Scholes or Bjerksund-Stensland scalar method.
class ScalarOutputs : public OutputSet<2> {
 public:
  using OutputSet<2>::OutputSet;
  [[nodiscard]] double& first() noexcept { return (*this)[0]; }
  [[nodiscard]] double& second() noexcept { return (*this)[1]; }
  void Store(kx::models::CallPut values) noexcept {
    first() = values.call;
    second() = values.put;
  }
};

/// Records this call's argument failure (6010) and writes the sentinel to every output.
template <std::size_t N>
void RejectArguments(MethodFrame& frame, OutputSet<N>& out) {
  frame.FailInvalidArguments();
  out.FillNotComputable();
}

/// The frame of a scalar method whose outputs are `places`: a null location for a bound place
/// records 3005 and nothing else runs; otherwise `body(frame, outputs)` checks and computes.
template <typename Outputs, std::size_t N, typename Body>
[[nodiscard]] kx::platform::HRESULT RunScalarFrame(ObjectState& object, const char* error_title,
                                                   ResultRule rule,
                                                   const std::array<OutputPlace, N>& places,
                                                   Body&& body) noexcept {
  return RunMethodFrame(object, error_title, rule, [&](MethodFrame& frame) {
    Outputs out(places);
    if (out.AnyMissing()) {
      frame.Fail(Failure::kMissingOutput);
      return;
    }
    body(frame, out);
  });
}

/// The frame of a Black-Scholes or Bjerksund-Stensland scalar method, computed on the caller's
/// thread: when `valid()` (a validator, which posts its own message) fails, 6010 is recorded and
/// both outputs get the sentinel; otherwise `compute(frame, outputs)`. E_FAIL when an error was
/// recorded, else S_OK.
template <typename Valid, typename Compute>
[[nodiscard]] kx::platform::HRESULT RunCallerThreadFrame(ObjectState& object,
                                                         const char* error_title, OutputPlace first,
                                                         OutputPlace second, Valid&& valid,
                                                         Compute&& compute) noexcept {
  return RunScalarFrame<ScalarOutputs>(object, error_title, ResultRule::kFailOnError,
                                       std::array{first, second},
                                       [&](MethodFrame& frame, ScalarOutputs& out) {
                                         if (valid()) {
                                           compute(frame, out);
                                         } else {
                                           RejectArguments(frame, out);
                                         }
                                       });
}

}  // namespace kx::component
