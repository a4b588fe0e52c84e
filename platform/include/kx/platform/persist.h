#pragma once
// In-memory persistence media a host can hand to a control to save it and load it back:
// a growable stream, a property bag of named values, and a storage of named streams.
#include <span>
#include <vector>

#include "kx/platform/interfaces.h"

namespace kx::platform {

// An empty memory stream (as CreateStreamOnHGlobal(nullptr, TRUE, ...)); read-write, seekable;
// Clone shares the bytes with its own seek position. E_POINTER for null out.
[[nodiscard]] HRESULT CreateMemoryStream(IStream** stream) noexcept;
// A memory stream holding a copy of bytes, positioned at the start.
[[nodiscard]] HRESULT CreateMemoryStream(std::span<const BYTE> bytes, IStream** stream) noexcept;
// Every byte of any stream, from the start, leaving its seek position where it was.
[[nodiscard]] HRESULT ReadStreamContents(IStream* stream, std::vector<BYTE>* bytes) noexcept;

// An empty memory property bag. Names are matched case-insensitively; Write stores a copy of the
// value (following VT_BYREF), Read coerces to the requested type (unless VT_EMPTY) and reports
// absent names with E_INVALIDARG and failed coercions with their code (both also told to the
// error log when one is given).
[[nodiscard]] HRESULT CreateMemoryPropertyBag(IPropertyBag** bag) noexcept;

// An empty memory storage (as StgCreateDocfile on memory): named streams and sub-storages,
// names of 1 to 31 characters without '/', '\\', ':' or '!', matched case-insensitively.
// Streams opened from it share its bytes, so what a control writes stays after it releases the
// stream. Mode STGM_READ (no STGM_WRITE/STGM_READWRITE) gives streams that refuse writes with
// STG_E_ACCESSDENIED. Commit and Revert do nothing (direct mode).
[[nodiscard]] HRESULT CreateMemoryStorage(IStorage** storage) noexcept;

// The class of a storage (WriteClassStg/ReadClassStg: IStorage::SetClass and Stat).
[[nodiscard]] HRESULT WriteClassStg(IStorage* storage, REFCLSID clsid) noexcept;
[[nodiscard]] HRESULT ReadClassStg(IStorage* storage, CLSID* clsid) noexcept;
// The class as 16 bytes at a stream's seek position (WriteClassStm/ReadClassStm).
// STG_E_READFAULT when fewer than 16 bytes remain.
[[nodiscard]] HRESULT WriteClassStm(IStream* stream, REFCLSID clsid) noexcept;
[[nodiscard]] HRESULT ReadClassStm(IStream* stream, CLSID* clsid) noexcept;

}  // namespace kx::platform
