#include "kv_quantorb.h"

#include "about_box.h"
#include "call_hold.h"
#include "class_factory.h"
#include "kx/platform/dialog.h"
#include "kx/platform/messages.h"
#include "kx/platform/typeinfo.h"
#include "method_frame.h"
#include "quantorb_typelib.h"

namespace kx::component {

using namespace kx::platform;

KvQuantorb::KvQuantorb() noexcept : state_(this), property_sinks_(this) {
  ComponentModuleLocks().Lock();
}

KvQuantorb::~KvQuantorb() {
  // No calls to the site here: it could reach this object again while it is being destroyed.
  if (window_) (void)DestroyWindow(window_);
  property_sinks_.UnadviseAll();
  ComponentModuleLocks().Unlock();
}

HRESULT KvQuantorb::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
  return ComponentClassFactory().CreateInstance(outer, riid, object);
}

HRESULT KvQuantorb::AdviseEvents(IDispatch* sink, DWORD* cookie) noexcept {
  return state_.events.Advise(sink, cookie);
}

HRESULT KvQuantorb::UnadviseEvents(DWORD cookie) noexcept { return state_.events.Unadvise(cookie); }

// IUnknown

HRESULT KvQuantorb::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  void* found = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKvQuantorb) {
    found = static_cast<IKvQuantorb*>(this);
  } else if (riid == IID_IViewObjectEx || riid == IID_IViewObject2 || riid == IID_IViewObject) {
    found = static_cast<IViewObjectEx*>(this);
  } else if (riid == IID_IOleInPlaceObjectWindowless || riid == IID_IOleInPlaceObject ||
             riid == IID_IOleWindow) {
    found = static_cast<IOleInPlaceObjectWindowless*>(this);
  } else if (riid == IID_IOleInPlaceActiveObject) {
    found = static_cast<IOleInPlaceActiveObject*>(this);
  } else if (riid == IID_IOleControl) {
    found = static_cast<IOleControl*>(this);
  } else if (riid == IID_IOleObject) {
    found = static_cast<IOleObject*>(this);
  } else if (riid == IID_IPersistStreamInit || riid == IID_IPersist) {
    found = static_cast<IPersistStreamInit*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    found = static_cast<ISupportErrorInfo*>(this);
  } else if (riid == IID_IConnectionPointContainer) {
    found = static_cast<IConnectionPointContainer*>(this);
  } else if (riid == IID_ISpecifyPropertyPages) {
    found = static_cast<ISpecifyPropertyPages*>(this);
  } else if (riid == IID_IQuickActivate) {
    found = static_cast<IQuickActivate*>(this);
  } else if (riid == IID_IPersistStorage) {
    found = static_cast<IPersistStorage*>(this);
  } else if (riid == IID_IDataObject) {
    found = static_cast<IDataObject*>(this);
  } else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) {
    found = static_cast<IProvideClassInfo2*>(this);
  } else if (riid == IID_IPersistPropertyBag) {
    found = static_cast<IPersistPropertyBag*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  *object = found;
  return S_OK;
}

ULONG KvQuantorb::AddRef() { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG KvQuantorb::Release() {
  const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

// IDispatch

HRESULT KvQuantorb::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT KvQuantorb::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  return lib->type_lib->GetTypeInfoOfGuid(IID_IKvQuantorb, info);
}

HRESULT KvQuantorb::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  return DispGetIDsOfNames(*lib->quantorb, names, count, ids);
}

HRESULT KvQuantorb::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  const CallHold hold(this);
  return DispInvoke(static_cast<IKvQuantorb*>(this), *lib->quantorb, member, flags, params, result,
                    excep, arg_err);
}

// Properties

template <class Store>
HRESULT KvQuantorb::PutNotified(DISPID property, Store store) noexcept {
  if (property_sinks_.RequestEdit(property) == S_FALSE) return S_FALSE;
  store();
  dirty_.store(true);
  property_sinks_.Changed(property);
  return S_OK;
}

HRESULT KvQuantorb::get_Base(LONG* value) {
  if (!value) return E_POINTER;
  *value = state_.settings.base.load();
  return S_OK;
}

HRESULT KvQuantorb::put_Base(LONG value) {
  const CallHold hold(this);
  return PutNotified(kDispidBase, [&] { state_.settings.base.store(value); });
}

HRESULT KvQuantorb::get_BlockingMode(SHORT* value) {
  if (!value) return E_POINTER;
  *value = state_.settings.blocking_mode.load();
  return S_OK;
}

HRESULT KvQuantorb::put_BlockingMode(SHORT value) {
  const CallHold hold(this);
  return PutNotified(kDispidBlockingMode, [&] { state_.settings.blocking_mode.store(value); });
}

// Abort and About (the pricing members sit with their families, component/families/)

HRESULT KvQuantorb::Abort() { return AbortComputation(); }

HRESULT KvQuantorb::About() {
  const CallHold hold(this);
  return ShowAboutBox(GetActiveWindow());
}

}  // namespace kx::component
