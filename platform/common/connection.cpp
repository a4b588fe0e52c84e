// Connection points, the same on both sides: the Windows system has the interfaces but no
// implementation for an object to embed (that is a class library's job), so this is ours there too.
#include "kx/platform/connection.h"

#include <memory>
#include <new>

#include "enumerator.h"

namespace kx::platform {
namespace {

struct HeldConnection {
  ComPtr<IUnknown> sink;
  DWORD cookie = 0;
};

void Hand(const HeldConnection& from, CONNECTDATA* to) noexcept {
  to->pUnk = from.sink.get();
  to->pUnk->AddRef();
  to->dwCookie = from.cookie;
}
void Hand(const ComPtr<IConnectionPoint>& from, IConnectionPoint** to) noexcept { (void)from.CopyTo(to); }

using ConnectionsEnumerator =
    internal::SnapshotEnumerator<IEnumConnections, HeldConnection, CONNECTDATA, &Hand>;
using PointsEnumerator =
    internal::SnapshotEnumerator<IEnumConnectionPoints, ComPtr<IConnectionPoint>, IConnectionPoint*, &Hand>;

}  // namespace

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID outgoing) noexcept
    : container_(container), outgoing_(outgoing) {}

ConnectionPoint::~ConnectionPoint() { UnadviseAll(); }

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    return ReturnInterface(static_cast<IConnectionPoint*>(this), object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ConnectionPoint::AddRef() { return container_->AddRef(); }
ULONG ConnectionPoint::Release() { return container_->Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = outgoing_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = container_;
  container_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  void* raw = nullptr;
  if (FAILED(sink->QueryInterface(outgoing_, &raw)) || !raw) return CONNECT_E_CANNOTCONNECT;
  auto* held = static_cast<IUnknown*>(raw);  // one reference, as the outgoing interface
  try {
    std::lock_guard lock(mutex_);
    Slot* slot = nullptr;
    for (auto& s : slots_) {
      if (!s.sink) {
        slot = &s;
        break;
      }
    }
    if (!slot) slot = &slots_.emplace_back();
    slot->sink = held;
    slot->cookie = next_cookie_++;
    if (next_cookie_ == 0) next_cookie_ = 1;  // 0 is never a cookie
    *cookie = slot->cookie;
  } catch (...) {
    held->Release();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  IUnknown* released = nullptr;
  {
    std::lock_guard lock(mutex_);
    for (auto& s : slots_) {
      if (s.sink && s.cookie == cookie) {
        released = s.sink;
        s.sink = nullptr;
        s.cookie = 0;
        break;
      }
    }
  }
  if (!released) return CONNECT_E_NOCONNECTION;
  released->Release();  // outside the lock: the sink may call back into this point
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (!connections) return E_POINTER;
  *connections = nullptr;
  try {
    auto list = std::make_shared<std::vector<HeldConnection>>();
    {
      std::lock_guard lock(mutex_);
      for (const auto& s : slots_) {
        if (s.sink) list->push_back({ComPtr<IUnknown>(s.sink), s.cookie});
      }
    }
    auto* object = new ConnectionsEnumerator(std::move(list), 0);
    *connections = object;
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
  std::vector<ComPtr<IUnknown>> out;
  std::lock_guard lock(mutex_);
  out.reserve(slots_.size());
  for (const auto& s : slots_) {
    if (s.sink) out.emplace_back(s.sink);
  }
  return out;
}

bool ConnectionPoint::SinkAt(std::size_t index, ComPtr<IUnknown>* sink) const noexcept {
  ComPtr<IUnknown> found;
  {
    std::lock_guard lock(mutex_);
    if (index >= slots_.size()) return false;
    found = ComPtr<IUnknown>(slots_[index].sink);
  }
  *sink = found;  // the sink it held before is released outside the lock
  return true;
}

std::size_t ConnectionPoint::ConnectionCount() const noexcept {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& s : slots_) n += s.sink ? 1 : 0;
  return n;
}

void ConnectionPoint::UnadviseAll() noexcept {
  std::vector<Slot> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(slots_);
  }
  for (auto& s : dropped) {
    if (s.sink) s.sink->Release();
  }
}

std::size_t RaiseDispatchEvent(const ConnectionPoint& point, DISPID dispid,
                               std::span<VARIANTARG> reversed_args) noexcept {
  std::vector<ComPtr<IDispatch>> sinks;
  try {
    sinks = point.SinksAs<IDispatch>();
  } catch (...) {
    return 0;  // no memory for the snapshot: no sink is called
  }
  std::size_t called = 0;
  for (const auto& sink : sinks) {  // each held by the snapshot across its call
    DISPPARAMS params{};
    params.rgvarg = reversed_args.data();
    params.cArgs = static_cast<UINT>(reversed_args.size());
    (void)sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                       nullptr, nullptr);
    ++called;
  }
  return called;
}

HRESULT FireOnRequestEdit(const ConnectionPoint& point, DISPID property) noexcept {
  std::vector<ComPtr<IPropertyNotifySink>> sinks;
  try {
    sinks = point.SinksAs<IPropertyNotifySink>();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  for (const auto& sink : sinks) {
    if (sink->OnRequestEdit(property) == S_FALSE) return S_FALSE;
  }
  return S_OK;
}

void FireOnChanged(const ConnectionPoint& point, DISPID property) noexcept {
  std::vector<ComPtr<IPropertyNotifySink>> sinks;
  try {
    sinks = point.SinksAs<IPropertyNotifySink>();
  } catch (...) {
    return;
  }
  for (const auto& sink : sinks) (void)sink->OnChanged(property);
}

HRESULT CreateConnectionPointEnumerator(std::span<IConnectionPoint* const> points,
                                        IEnumConnectionPoints** enumerator) noexcept {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  try {
    auto list = std::make_shared<std::vector<ComPtr<IConnectionPoint>>>();
    for (IConnectionPoint* p : points) {
      if (!p) return E_INVALIDARG;
      list->emplace_back(p);
    }
    *enumerator = new PointsEnumerator(std::move(list), 0);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT FindConnectionPointIn(std::span<ConnectionPoint* const> points, REFIID riid,
                              IConnectionPoint** point) noexcept {
  if (!point) return E_POINTER;
  *point = nullptr;
  for (ConnectionPoint* p : points) {
    if (p && p->outgoing() == riid) {
      p->AddRef();
      *point = p;
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

}  // namespace kx::platform
