// KvQuantorb persistence: the two properties "Base" (DISPID 1) and "Blocking" (DISPID 2, the
// BlockingMode property), in this order, read and written through the object's own IDispatch, so
// loading raises the same property-change notifications as a client's put.
//
// A load that fails changes no property, however far it got.
//
// Stream format, little-endian, 14 bytes: version 0x00000300, then for each property its VARTYPE
// (2 bytes) and the bytes of that type. Storages hold the same bytes in a stream named "Contents".
#include <array>
#include <cstring>
#include <span>

#include "kv_quantorb.h"

namespace kx::component {

using namespace kx::platform;

namespace {

struct PersistedProperty {
  const char16_t* name;
  DISPID dispid;
};
constexpr PersistedProperty kPersisted[] = {{u"Base", kDispidBase},
                                            {u"Blocking", kDispidBlockingMode}};

constexpr const char16_t* kContentsStream = u"Contents";
constexpr ULONG kStreamSize = 4 + (2 + 4) + (2 + 2);

// Bytes a value of this type takes in the stream; 0 for types the format does not carry.
ULONG StreamSizeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_I8:
    case VT_UI8:
      return 8;
    default:
      return 0;
  }
}

HRESULT ReadExact(IStream* stream, void* buffer, ULONG size) {
  ULONG read = 0;
  const HRESULT hr = stream->Read(buffer, size, &read);
  if (FAILED(hr)) return hr;
  return read == size ? S_OK : STG_E_READFAULT;  // a truncated stream
}

HRESULT WriteExact(IStream* stream, const void* buffer, ULONG size) {
  ULONG written = 0;
  const HRESULT hr = stream->Write(buffer, size, &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : STG_E_MEDIUMFULL;
}

// Little-endian on every host: the format is fixed, whatever the machine.
template <class T>
void PutLittleEndian(T value, BYTE* out) {
  auto bits = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8) out[i] = static_cast<BYTE>(bits & 0xFF);
}
std::uint64_t GetLittleEndian(const BYTE* in, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = size; i-- > 0;) v = (v << 8) | in[i];
  return v;
}

// The value bytes of `value` (whose type has a stream size) into `out`.
void EncodeValue(const VARIANT& value, BYTE* out) {
  const ULONG size = StreamSizeOf(value.vt);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value.llVal, size);  // the union's first bytes hold every such type
  for (ULONG i = 0; i < size; ++i, bits >>= 8) out[i] = static_cast<BYTE>(bits & 0xFF);
}
void DecodeValue(VARTYPE vt, const BYTE* in, VARIANT* value) {
  const ULONG size = StreamSizeOf(vt);
  const std::uint64_t bits = GetLittleEndian(in, size);
  value->vt = vt;
  value->llVal = 0;
  std::memcpy(&value->llVal, &bits, size);
}

}  // namespace

HRESULT KvQuantorb::GetPersistedProperty(DISPID property, VARIANT* value) noexcept {
  DISPPARAMS none{};
  return Invoke(property, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                nullptr, nullptr);
}

HRESULT KvQuantorb::PutPersistedProperty(DISPID property, VARIANT* value) noexcept {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{.rgvarg = value, .rgdispidNamedArgs = &named, .cArgs = 1, .cNamedArgs = 1};
  return Invoke(property, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                nullptr, nullptr);
}

HRESULT KvQuantorb::PutPersistedProperties(VARIANT* const* values) noexcept {
  std::array<Variant, std::size(kPersisted)> old;
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (!values[i]) continue;
    const HRESULT hr = GetPersistedProperty(kPersisted[i].dispid, &old[i]);
    if (FAILED(hr)) return hr;
  }
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (!values[i]) continue;
    const HRESULT hr = PutPersistedProperty(kPersisted[i].dispid, values[i]);
    if (FAILED(hr)) {
      while (i-- > 0) {
        if (values[i]) (void)PutPersistedProperty(kPersisted[i].dispid, &old[i]);
      }
      return hr;
    }
  }
  return S_OK;
}

HRESULT KvQuantorb::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_KvQuantorb;
  return S_OK;
}

HRESULT KvQuantorb::IsDirty() { return dirty_.load() ? S_OK : S_FALSE; }

HRESULT KvQuantorb::InitNew() { return S_OK; }  // a new object already holds the initial values

HRESULT KvQuantorb::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  BYTE version_bytes[4];
  HRESULT hr = ReadExact(stream, version_bytes, sizeof version_bytes);
  if (FAILED(hr)) return hr;
  if (GetLittleEndian(version_bytes, 4) > kStreamFormatVersion) return E_FAIL;
  // Every value is read before any is put, so a short stream changes nothing.
  std::array<Variant, std::size(kPersisted)> values;
  for (Variant& value : values) {
    BYTE vt_bytes[2];
    hr = ReadExact(stream, vt_bytes, sizeof vt_bytes);
    if (FAILED(hr)) return hr;
    const auto vt = static_cast<VARTYPE>(GetLittleEndian(vt_bytes, 2));
    const ULONG size = StreamSizeOf(vt);
    if (size == 0) return DISP_E_BADVARTYPE;
    BYTE bytes[8];
    hr = ReadExact(stream, bytes, size);
    if (FAILED(hr)) return hr;
    DecodeValue(vt, bytes, &value);
  }
  VARIANT* all[std::size(kPersisted)];
  for (std::size_t i = 0; i < values.size(); ++i) all[i] = &values[i];
  hr = PutPersistedProperties(all);
  if (FAILED(hr)) return hr;
  dirty_.store(false);
  return S_OK;
}

HRESULT KvQuantorb::Save(IStream* stream, BOOL clear_dirty) {
  if (!stream) return E_POINTER;
  BYTE out[4 + 2 * (2 + 8)];
  PutLittleEndian<std::uint32_t>(kStreamFormatVersion, out);
  ULONG used = 4;
  for (const PersistedProperty& p : kPersisted) {
    Variant value;
    const HRESULT hr = GetPersistedProperty(p.dispid, &value);
    if (FAILED(hr)) return hr;
    if (StreamSizeOf(value.vt) == 0) return DISP_E_BADVARTYPE;
    PutLittleEndian<std::uint16_t>(value.vt, out + used);
    EncodeValue(value, out + used + 2);
    used += 2 + StreamSizeOf(value.vt);
  }
  const HRESULT hr = WriteExact(stream, out, used);
  if (FAILED(hr)) return hr;
  if (clear_dirty) dirty_.store(false);
  return S_OK;
}

HRESULT KvQuantorb::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = kStreamSize;
  return S_OK;
}

HRESULT KvQuantorb::Load(IPropertyBag* bag, IErrorLog* error_log) {
  if (!bag) return E_POINTER;
  std::array<Variant, std::size(kPersisted)> values;
  VARIANT* held[std::size(kPersisted)] = {};
  for (std::size_t i = 0; i < values.size(); ++i) {
    Variant current;
    const HRESULT hr = GetPersistedProperty(kPersisted[i].dispid, &current);
    if (FAILED(hr)) return hr;
    values[i].vt = current.vt;  // asks the bag for the property's own type
    if (FAILED(bag->Read(OleText(kPersisted[i].name), &values[i], error_log))) continue;  // keep the value
    held[i] = &values[i];
  }
  const HRESULT hr = PutPersistedProperties(held);
  if (FAILED(hr)) return hr;
  dirty_.store(false);
  return S_OK;
}

HRESULT KvQuantorb::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  if (!bag) return E_POINTER;
  for (const PersistedProperty& p : kPersisted) {
    Variant value;
    HRESULT hr = GetPersistedProperty(p.dispid, &value);
    if (FAILED(hr)) return hr;
    hr = bag->Write(OleText(p.name), &value);
    if (FAILED(hr)) return hr;
  }
  if (clear_dirty) dirty_.store(false);
  return S_OK;
}

HRESULT KvQuantorb::InitNew(IStorage* storage) {
  if (!storage) return E_POINTER;
  return InitNew();
}

HRESULT KvQuantorb::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  const HRESULT hr = storage->OpenStream(
      OleText(kContentsStream), nullptr, STGM_DIRECT | STGM_SHARE_EXCLUSIVE | STGM_READ, 0, stream.put());
  if (FAILED(hr)) return hr;
  return Load(stream.get());
}

HRESULT KvQuantorb::Save(IStorage* storage, BOOL same_as_load) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  const HRESULT hr = storage->CreateStream(
      OleText(kContentsStream), STGM_DIRECT | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_READWRITE, 0, 0,
      stream.put());
  if (FAILED(hr)) return hr;
  // Saving into the storage the object was loaded from is what clears the needs-saving mark.
  return Save(stream.get(), same_as_load);
}

HRESULT KvQuantorb::SaveCompleted(IStorage*) { return S_OK; }

HRESULT KvQuantorb::HandsOffStorage() { return S_OK; }  // no storage is held between calls

}  // namespace kx::component
