// What each KvQuantorb object keeps for the method frame: its settings and its event connections.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/hresult.h"
#include "kx/platform/unknown.h"

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

/// The connected _IKvQuantorbEvents sinks, in connection order. A slot emptied by Unadvise is
/// reused by the next Advise; cookies are slot index + 1.
class EventSinkList {
 public:
  EventSinkList() = default;
  EventSinkList(const EventSinkList&) = delete;
  EventSinkList& operator=(const EventSinkList&) = delete;
  ~EventSinkList();

  /// Holds a reference on `sink`. E_POINTER for a null sink or cookie.
  [[nodiscard]] kx::platform::HRESULT Advise(kx::platform::IDispatch* sink,
                                             kx::platform::DWORD* cookie) noexcept;
  /// CONNECT_E_NOCONNECTION for a cookie that names no connection.
  [[nodiscard]] kx::platform::HRESULT Unadvise(kx::platform::DWORD cookie) noexcept;
  /// The connected sinks, each held, skipping empty slots. Events are raised on this copy, so a
  /// sink may disconnect from within its own event.
  [[nodiscard]] std::vector<kx::platform::ComPtr<kx::platform::IDispatch>> Snapshot() const;
  [[nodiscard]] std::size_t ConnectedCount() const noexcept;

 private:
  mutable std::mutex mutex_;
  std::vector<kx::platform::IDispatch*> slots_;
};

/// Everything a family dispatcher needs of the object a method was called on.
struct ObjectState {
  ObjectSettings settings;
  EventSinkList event_sinks;
};

}  // namespace kx::component
