// KvQuantorb: error-information support, the connection-point container, class information and
// property pages.
#include "kv_quantorb.h"
#include "kx/platform/connection.h"
#include "kx/platform/typeinfo.h"
#include "quantorb_typelib.h"

namespace kx::component {

using namespace kx::platform;

HRESULT KvQuantorb::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IKvQuantorb ? S_OK : S_FALSE;
}

HRESULT KvQuantorb::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (!points) return E_POINTER;
  IConnectionPoint* const only[] = {&state_.events};
  return CreateConnectionPointEnumerator(only, points);
}

HRESULT KvQuantorb::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  ConnectionPoint* const only[] = {&state_.events};
  return FindConnectionPointIn(only, riid, point);
}

HRESULT KvQuantorb::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  return lib->type_lib->GetTypeInfoOfGuid(CLSID_KvQuantorb, info);
}

HRESULT KvQuantorb::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = DIID__IKvQuantorbEvents;
  return S_OK;
}

HRESULT KvQuantorb::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace kx::component
