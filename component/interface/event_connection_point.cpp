#include "event_connection_point.h"

#include "ikvquantorb.h"
#include "kx/platform/comptr.h"

namespace kx::component {

using namespace kx::platform;

HRESULT EventConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    return ReturnInterface(static_cast<IConnectionPoint*>(this), object);
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = DIID__IKvQuantorbEvents;
  return S_OK;
}

HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  return ReturnInterface(container_, reinterpret_cast<void**>(container));
}

HRESULT EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  // A dispinterface is called through IDispatch, so its pointer is an IDispatch.
  IDispatch* events = nullptr;
  if (FAILED(sink->QueryInterface(DIID__IKvQuantorbEvents, reinterpret_cast<void**>(&events))) ||
      !events) {
    return CONNECT_E_CANNOTCONNECT;
  }
  const HRESULT hr = sinks_.Advise(events, cookie);
  events->Release();
  return hr;
}

HRESULT EventConnectionPoint::Unadvise(DWORD cookie) { return sinks_.Unadvise(cookie); }

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

}  // namespace kx::component
