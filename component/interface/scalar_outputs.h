// The output locations of a scalar method: the client's bound places, scratch for the others.
#pragma once

#include <array>
#include <cstddef>

#include "kx/models/common.h"
#include "method_arguments.h"

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

}  // namespace kx::component
