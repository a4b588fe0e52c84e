#pragma once
// Connection points for an object's outgoing interfaces: the connection list with its cookies,
// snapshots of the connected sinks for raising events, and the event helpers.
#include <mutex>
#include <span>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/interfaces.h"

namespace kx::platform {

// One outgoing interface of an object. It is a part of that object: embed it as a member;
// its AddRef/Release are the container's, so a client holding the point keeps the object alive.
// Connections live in slots: Advise fills the first empty slot (or appends), Unadvise empties
// one, and sinks are visited in slot order, skipping empty slots. Cookies are never reused.
class ConnectionPoint : public IConnectionPoint {
 public:
  // container must outlive this point (it owns it); outgoing is the interface sinks implement.
  ConnectionPoint(IConnectionPointContainer* container, REFIID outgoing) noexcept;
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // IUnknown: answers IUnknown and IConnectionPoint; counts on the container.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IConnectionPoint.
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE
  GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  [[nodiscard]] const IID& outgoing() const noexcept { return outgoing_; }
  // The connected sinks (each as the outgoing interface, AddRef'd) in slot order.
  [[nodiscard]] std::vector<ComPtr<IUnknown>> Sinks() const;
  // The same, as interface I (I must be the outgoing interface or one it derives from, for
  // example IDispatch for a dispinterface).
  template <class I>
  [[nodiscard]] std::vector<ComPtr<I>> SinksAs() const {
    std::vector<ComPtr<I>> out;
    for (auto& s : Sinks()) out.emplace_back(static_cast<I*>(static_cast<void*>(s.get())));
    return out;
  }
  // The sink of slot `index` (AddRef'd; null for an empty slot); false past the last slot. Walks
  // the sinks without the snapshot that Sinks() allocates.
  [[nodiscard]] bool SinkAt(std::size_t index, ComPtr<IUnknown>* sink) const noexcept;
  [[nodiscard]] std::size_t ConnectionCount() const noexcept;
  // Drops every connection (for an object that closes).
  void UnadviseAll() noexcept;

 private:
  struct Slot {
    DWORD cookie = 0;
    IUnknown* sink = nullptr;  // the outgoing interface, one reference held; null = empty slot
  };
  IConnectionPointContainer* container_;
  IID outgoing_;
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  DWORD next_cookie_ = 1;
};

// Calls IDispatch::Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD) with the
// positional arguments args (already in reverse order: the last argument first) on every sink of
// a dispinterface point, in slot order, each held across its call. Sinks' results and exception
// information are ignored. Returns the number of sinks called.
std::size_t RaiseDispatchEvent(const ConnectionPoint& point, DISPID dispid,
                               std::span<VARIANTARG> reversed_args) noexcept;

// IPropertyNotifySink helpers on a point for IID_IPropertyNotifySink.
// OnRequestEdit to each sink in order; S_FALSE as soon as one answers S_FALSE, else S_OK.
[[nodiscard]] HRESULT FireOnRequestEdit(const ConnectionPoint& point, DISPID property) noexcept;
// OnChanged to every sink.
void FireOnChanged(const ConnectionPoint& point, DISPID property) noexcept;

// The property-change connection point of a control.
class PropertyNotifyConnectionPoint : public ConnectionPoint {
 public:
  explicit PropertyNotifyConnectionPoint(IConnectionPointContainer* container) noexcept
      : ConnectionPoint(container, IID_IPropertyNotifySink) {}
  [[nodiscard]] HRESULT RequestEdit(DISPID property) const noexcept { return FireOnRequestEdit(*this, property); }
  void Changed(DISPID property) const noexcept { FireOnChanged(*this, property); }
};

// For IConnectionPointContainer implementations over a fixed set of points.
// An enumerator over points (each AddRef'd while the enumerator lives).
[[nodiscard]] HRESULT CreateConnectionPointEnumerator(std::span<IConnectionPoint* const> points,
                                                      IEnumConnectionPoints** enumerator) noexcept;
// The point whose outgoing interface is riid: S_OK with it AddRef'd, else CONNECT_E_NOCONNECTION.
[[nodiscard]] HRESULT FindConnectionPointIn(std::span<ConnectionPoint* const> points, REFIID riid,
                                            IConnectionPoint** point) noexcept;

}  // namespace kx::platform
