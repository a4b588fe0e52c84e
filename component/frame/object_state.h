// What each KvQuantorb object keeps for the method frame: its settings and its event connections.
#pragma once

#include <atomic>

#include "ikvquantorb.h"
#include "kx/platform/connection.h"
#include "kx/platform/hresult.h"

namespace kx::component {

/// Per-object values read by the frame. Base and BlockingMode are atomic because the property
/// accessors may run on any thread while a pricing call reads them; the other fields are only
/// touched by pricing calls, which the call gate serialises.
struct ObjectSettings {
  std::atomic<kx::platform::SHORT> blocking_mode{1};  // 1 pumps messages while a worker runs
  std::atomic<kx::platform::LONG> base{0};            // lower bound of arrays in and out
  kx::platform::LONG stored_step_count = 100;         // last BinSteps accepted by CheckTreeArgs
  kx::platform::LONG default_iteration_limit = 50;    // a skew's MaxIter of exactly 0
  kx::platform::LONG binomial_option_word = 0;        // copied into every binomial job
};

/// Everything a family dispatcher needs of the object a method was called on.
struct ObjectState {
  /// `container` is the object that owns this state; the event point counts references on it.
  explicit ObjectState(kx::platform::IConnectionPointContainer* container) noexcept
      : events(container, DIID__IKvQuantorbEvents) {}

  ObjectSettings settings;
  /// The connection point of _IKvQuantorbEvents. Done goes to its sinks in connection order,
  /// skipping empty slots, from a locked snapshot, so another thread may connect meanwhile and a
  /// sink may disconnect from within its own event.
  kx::platform::ConnectionPoint events;
};

}  // namespace kx::component
