// KvQuantorb as an embedded control: client site, verbs, extent, in-place activation with a
// window of its own, and quick activation. The control is invisible at run time, keeps its
// natural size and has no mnemonics, undo state, verbs of its own or advise sinks.
#include "kv_quantorb.h"
#include "kx/platform/messages.h"

namespace kx::component {

using namespace kx::platform;

namespace {

bool IsNaturalSize(const SIZEL& size) {
  return size.cx == kNaturalSizeHimetric && size.cy == kNaturalSizeHimetric;
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProc(window, message, wparam, lparam);
}

}  // namespace

// IOleObject

HRESULT KvQuantorb::SetClientSite(IOleClientSite* site) {
  client_site_ = site;
  // A container detaching the control also drops the property-change sinks it connected.
  if (!site) property_sinks_.UnadviseAll();
  return S_OK;
}

HRESULT KvQuantorb::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  return client_site_.CopyTo(site);
}

HRESULT KvQuantorb::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT KvQuantorb::Close(DWORD save_option) {
  if (dirty_.load() && client_site_ &&
      (save_option == OLECLOSE_SAVEIFDIRTY || save_option == OLECLOSE_PROMPTSAVE)) {
    (void)client_site_->SaveObject();
  }
  return InPlaceDeactivate();
}

HRESULT KvQuantorb::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT KvQuantorb::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT KvQuantorb::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT KvQuantorb::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT KvQuantorb::ActivateInPlace(LONG verb, IOleClientSite* active_site) noexcept {
  IOleClientSite* site = active_site ? active_site : client_site_.get();
  if (!site) return E_UNEXPECTED;
  if (!in_place_site_) {
    ComPtr<IOleInPlaceSite> in_place;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, in_place.put_void())) || !in_place) {
      return E_NOINTERFACE;
    }
    if (in_place->CanInPlaceActivate() != S_OK) return E_FAIL;
    const HRESULT hr = in_place->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    window_ = CreateMessageWindow(&ControlWindowProc, this);
    if (!window_) {
      (void)in_place->OnInPlaceDeactivate();
      return E_OUTOFMEMORY;
    }
    in_place_site_ = in_place;
  }
  if (verb != OLEIVERB_INPLACEACTIVATE && !ui_active_) {
    ui_active_ = true;
    (void)in_place_site_->OnUIActivate();
  }
  return S_OK;
}

HRESULT KvQuantorb::DoVerb(LONG verb, MSG*, IOleClientSite* active_site, LONG, HWND,
                           const RECT* position) {
  if (position) position_ = *position;
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      return ActivateInPlace(verb, active_site);
    case OLEIVERB_HIDE:
      return InPlaceDeactivate();
    case OLEIVERB_DISCARDUNDOSTATE:
      return S_OK;  // nothing is ever undoable
    case OLEIVERB_OPEN:
    case OLEIVERB_PROPERTIES:
      return E_NOTIMPL;  // no separate window and no property pages
    default:
      if (verb > 0) {  // an unknown positive verb acts as the primary one
        const HRESULT hr = ActivateInPlace(OLEIVERB_PRIMARY, active_site);
        return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
      }
      return E_NOTIMPL;
  }
}

HRESULT KvQuantorb::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs) *verbs = nullptr;
  return OLEOBJ_E_NOVERBS;
}

HRESULT KvQuantorb::Update() { return S_OK; }

HRESULT KvQuantorb::IsUpToDate() { return S_OK; }

HRESULT KvQuantorb::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

HRESULT KvQuantorb::GetUserType(DWORD, LPOLESTR* user_type) {
  if (user_type) *user_type = nullptr;
  return OLE_S_USEREG;  // the registered name of the class
}

HRESULT KvQuantorb::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  return IsNaturalSize(*size) ? S_OK : E_FAIL;  // auto-sized: the natural size only
}

HRESULT KvQuantorb::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  size->cx = size->cy = kNaturalSizeHimetric;
  return S_OK;
}

HRESULT KvQuantorb::Advise(IAdviseSink*, DWORD* connection) {
  if (connection) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT KvQuantorb::Unadvise(DWORD) { return OLE_E_NOCONNECTION; }

HRESULT KvQuantorb::EnumAdvise(IEnumSTATDATA** advises) {
  if (advises) *advises = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT KvQuantorb::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (!status) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? kMiscStatusContent : 0;  // as registered under MiscStatus
  return S_OK;
}

HRESULT KvQuantorb::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IOleControl

HRESULT KvQuantorb::GetControlInfo(CONTROLINFO*) { return E_NOTIMPL; }

HRESULT KvQuantorb::OnMnemonic(MSG*) { return E_NOTIMPL; }

HRESULT KvQuantorb::OnAmbientPropertyChange(DISPID) { return S_OK; }  // reads no ambients

HRESULT KvQuantorb::FreezeEvents(BOOL) { return S_OK; }

// IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless

HRESULT KvQuantorb::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return window_ ? S_OK : E_FAIL;
}

HRESULT KvQuantorb::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT KvQuantorb::InPlaceDeactivate() {
  if (!in_place_site_) return S_OK;
  (void)UIDeactivate();
  if (window_) (void)DestroyWindow(window_);
  window_ = nullptr;
  const ComPtr<IOleInPlaceSite> site = std::move(in_place_site_);
  (void)site->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT KvQuantorb::UIDeactivate() {
  if (!ui_active_) return S_OK;
  ui_active_ = false;
  if (in_place_site_) (void)in_place_site_->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT KvQuantorb::SetObjectRects(const RECT* position, const RECT*) {
  if (!position) return E_POINTER;
  position_ = *position;
  return S_OK;
}

HRESULT KvQuantorb::ReactivateAndUndo() { return E_NOTIMPL; }

HRESULT KvQuantorb::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
  if (result) *result = 0;
  return S_FALSE;  // the control has its own window and handles no messages for a container
}

HRESULT KvQuantorb::GetDropTarget(IDropTarget** target) {
  if (target) *target = nullptr;
  return E_NOTIMPL;
}

// IOleInPlaceActiveObject

HRESULT KvQuantorb::TranslateAccelerator(MSG*) { return S_FALSE; }

HRESULT KvQuantorb::OnFrameWindowActivate(BOOL) { return S_OK; }

HRESULT KvQuantorb::OnDocWindowActivate(BOOL) { return S_OK; }

HRESULT KvQuantorb::ResizeBorder(const RECT*, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

HRESULT KvQuantorb::EnableModeless(BOOL) { return S_OK; }

// IQuickActivate

HRESULT KvQuantorb::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (!container || !control) return E_POINTER;
  if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) {
    return E_INVALIDARG;
  }
  if (container->pClientSite) (void)SetClientSite(container->pClientSite);
  control->dwEventCookie = 0;
  control->dwPropNotifyCookie = 0;
  if (container->pUnkEventSink) {
    const HRESULT hr = state_.events.Advise(container->pUnkEventSink, &control->dwEventCookie);
    if (FAILED(hr)) return hr;
  }
  if (container->pPropertyNotifySink) {
    const HRESULT hr =
        property_sinks_.Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
    if (FAILED(hr)) return hr;
  }
  control->dwMiscStatus = kMiscStatusContent;
  (void)GetViewStatus(&control->dwViewStatus);
  control->dwPointerActivationPolicy = 0;
  return S_OK;
}

HRESULT KvQuantorb::SetContentExtent(SIZEL* size) { return SetExtent(DVASPECT_CONTENT, size); }

HRESULT KvQuantorb::GetContentExtent(SIZEL* size) { return GetExtent(DVASPECT_CONTENT, size); }

}  // namespace kx::component
