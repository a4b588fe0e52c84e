#include "object_state.h"

#include <algorithm>

namespace kx::component {

using namespace kx::platform;

EventSinkList::~EventSinkList() {
  for (IDispatch* sink : slots_) {
    if (sink) sink->Release();
  }
}

HRESULT EventSinkList::Advise(IDispatch* sink, DWORD* cookie) noexcept {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  const std::lock_guard lock(mutex_);
  auto free_slot = std::find(slots_.begin(), slots_.end(), nullptr);
  if (free_slot == slots_.end()) {
    try {
      slots_.push_back(nullptr);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    free_slot = slots_.end() - 1;
  }
  sink->AddRef();
  *free_slot = sink;
  *cookie = static_cast<DWORD>(free_slot - slots_.begin()) + 1;
  return S_OK;
}

HRESULT EventSinkList::Unadvise(DWORD cookie) noexcept {
  IDispatch* released = nullptr;
  {
    const std::lock_guard lock(mutex_);
    if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1]) {
      return CONNECT_E_NOCONNECTION;
    }
    released = std::exchange(slots_[cookie - 1], nullptr);
  }
  // Released outside the lock: the sink's destructor may call back into this list.
  released->Release();
  return S_OK;
}

std::vector<ComPtr<IDispatch>> EventSinkList::Snapshot() const {
  const std::lock_guard lock(mutex_);
  std::vector<ComPtr<IDispatch>> sinks;
  sinks.reserve(slots_.size());
  for (IDispatch* sink : slots_) {
    if (sink) sinks.emplace_back(sink);
  }
  return sinks;
}

std::size_t EventSinkList::ConnectedCount() const noexcept {
  const std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](IDispatch* sink) { return sink != nullptr; }));
}

}  // namespace kx::component
