// The connection point of _IKvQuantorbEvents. It is part of its object: reference counts go to the
// object, and the sinks it connects go into the object's EventSinkList, which Done is raised on.
#pragma once

#include "kx/platform/interfaces.h"
#include "object_state.h"

namespace kx::component {

class EventConnectionPoint final : public kx::platform::IConnectionPoint {
 public:
  EventConnectionPoint(kx::platform::IConnectionPointContainer* container,
                       EventSinkList& sinks) noexcept
      : container_(container), sinks_(sinks) {}
  EventConnectionPoint(const EventConnectionPoint&) = delete;
  EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

  kx::platform::HRESULT QueryInterface(kx::platform::REFIID riid, void** object) override;
  kx::platform::ULONG AddRef() override { return container_->AddRef(); }
  kx::platform::ULONG Release() override { return container_->Release(); }

  /// DIID__IKvQuantorbEvents.
  kx::platform::HRESULT GetConnectionInterface(kx::platform::IID* iid) override;
  kx::platform::HRESULT GetConnectionPointContainer(
      kx::platform::IConnectionPointContainer** container) override;
  /// Queries the sink for DIID__IKvQuantorbEvents: CONNECT_E_CANNOTCONNECT when it lacks it.
  kx::platform::HRESULT Advise(kx::platform::IUnknown* sink, kx::platform::DWORD* cookie) override;
  kx::platform::HRESULT Unadvise(kx::platform::DWORD cookie) override;
  /// E_NOTIMPL: the sink list keeps no cookies to enumerate.
  kx::platform::HRESULT EnumConnections(kx::platform::IEnumConnections** connections) override;

 private:
  kx::platform::IConnectionPointContainer* container_;
  EventSinkList& sinks_;
};

}  // namespace kx::component
