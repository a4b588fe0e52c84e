// KvQuantorb appearance: bitmap 202 copied unscaled to the top-left corner of the drawing
// bounds, nothing else. The control offers its picture only through drawing, not as data.
#include "embedded_resources.h"
#include "kv_quantorb.h"
#include "kx/platform/drawing.h"

namespace kx::component {

using namespace kx::platform;

namespace {

inline constexpr int kFaceBitmapId = 202;

bool Inside(const RECT& r, LONG x, LONG y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

HRESULT KvQuantorb::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw_dc,
                         const RECTL* bounds, const RECTL*, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                         ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!draw_dc || !bounds) return E_INVALIDARG;
  const auto bytes = FindEmbeddedResource("BITMAP", kFaceBitmapId);
  if (!bytes) return VIEW_E_DRAW;
  HBITMAP face = nullptr;
  if (FAILED(LoadBitmapFromBmp(*bytes, &face))) return VIEW_E_DRAW;
  const BOOL drawn = DrawBitmap(draw_dc, bounds->left, bounds->top, face);
  (void)DeleteObject(face);
  return drawn ? S_OK : VIEW_E_DRAW;
}

HRESULT KvQuantorb::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** color_set) {
  if (color_set) *color_set = nullptr;
  return E_NOTIMPL;
}

HRESULT KvQuantorb::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }

HRESULT KvQuantorb::Unfreeze(DWORD) { return E_NOTIMPL; }

// The picture never changes, so there is no view change to advise anyone of.
HRESULT KvQuantorb::SetAdvise(DWORD, DWORD, IAdviseSink*) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT KvQuantorb::GetAdvise(DWORD*, DWORD*, IAdviseSink** sink) {
  if (sink) *sink = nullptr;
  return E_NOTIMPL;
}

HRESULT KvQuantorb::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, SIZEL* size) {
  return GetExtent(aspect, size);
}

HRESULT KvQuantorb::GetRect(DWORD, RECTL*) { return E_NOTIMPL; }

HRESULT KvQuantorb::GetViewStatus(DWORD* status) {
  if (!status) return E_POINTER;
  *status = 0;  // only the 32 x 32 corner is painted, so the bounds are neither opaque nor solid
  return S_OK;
}

HRESULT KvQuantorb::QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG,
                                  DWORD* hit_result) {
  if (!bounds || !hit_result) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *hit_result = Inside(*bounds, location.x, location.y) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

HRESULT KvQuantorb::QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location, LONG,
                                 DWORD* hit_result) {
  if (!bounds || !location || !hit_result) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  const bool overlaps = location->left < bounds->right && bounds->left < location->right &&
                        location->top < bounds->bottom && bounds->top < location->bottom;
  *hit_result = overlaps ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

HRESULT KvQuantorb::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC,
                                     DVEXTENTINFO* extent_info, SIZEL* size) {
  if (!extent_info || !size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT || extent_info->dwExtentMode != DVEXTENT_CONTENT) {
    return E_NOTIMPL;
  }
  size->cx = size->cy = kNaturalSizeHimetric;
  return S_OK;
}

// IDataObject: no formats are rendered.

HRESULT KvQuantorb::GetData(FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }

HRESULT KvQuantorb::GetDataHere(FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }

HRESULT KvQuantorb::QueryGetData(FORMATETC*) { return DV_E_FORMATETC; }

HRESULT KvQuantorb::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* format_out) {
  if (format_out) format_out->ptd = nullptr;
  return E_NOTIMPL;
}

HRESULT KvQuantorb::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

HRESULT KvQuantorb::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  if (formats) *formats = nullptr;
  return E_NOTIMPL;
}

HRESULT KvQuantorb::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
  if (connection) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT KvQuantorb::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT KvQuantorb::EnumDAdvise(IEnumSTATDATA** advises) {
  if (advises) *advises = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

}  // namespace kx::component
