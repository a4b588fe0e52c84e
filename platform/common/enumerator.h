#pragma once
// Enumerators over a snapshot list (internal): IEnumConnections, IEnumConnectionPoints and
// IEnumSTATSTG share Next/Skip/Reset/Clone; clones share the snapshot, not the position.
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "kx/platform/comptr.h"
#include "object_base.h"

namespace kx::platform::internal {

// Held is what the snapshot keeps; Copy writes one item out to the caller (taking references
// or copies the caller then owns).
template <class Interface, class Held, class Out, void (*Copy)(const Held&, Out*)>
class SnapshotEnumerator final
    : public ObjectBase<SnapshotEnumerator<Interface, Held, Out, Copy>, Interface> {
 public:
  using List = std::vector<Held>;
  SnapshotEnumerator(std::shared_ptr<const List> items, std::size_t position) noexcept
      : items_(std::move(items)), position_(position) {}

  HRESULT Next(ULONG count, Out* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    for (; n < count && position_ < items_->size(); ++n, ++position_) Copy((*items_)[position_], &out[n]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    std::lock_guard lock(mutex_);
    const std::size_t left = items_->size() - position_;
    position_ += count > left ? left : count;
    return count > left ? S_FALSE : S_OK;
  }
  HRESULT Reset() override {
    std::lock_guard lock(mutex_);
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** copy) override {
    if (!copy) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto* object = new (std::nothrow) SnapshotEnumerator(items_, position_);
    *copy = object;
    return object ? S_OK : E_OUTOFMEMORY;
  }

 private:
  friend ObjectBase<SnapshotEnumerator, Interface>;
  ~SnapshotEnumerator() = default;

  std::mutex mutex_;
  std::shared_ptr<const List> items_;
  std::size_t position_;
};

}  // namespace kx::platform::internal
