#pragma once
// Persistence media a host hands to a control: the system's memory stream and storage. The
// system has no memory property bag; this side offers one for tests and hosts.
#include <span>
#include <vector>

#include "kx/platform/interfaces.h"

namespace kx::platform {

using ::ReadClassStg;
using ::ReadClassStm;
using ::WriteClassStg;
using ::WriteClassStm;

[[nodiscard]] HRESULT CreateMemoryStream(IStream** stream) noexcept;
[[nodiscard]] HRESULT CreateMemoryStream(std::span<const BYTE> bytes, IStream** stream) noexcept;
[[nodiscard]] HRESULT ReadStreamContents(IStream* stream, std::vector<BYTE>* bytes) noexcept;
[[nodiscard]] HRESULT CreateMemoryPropertyBag(IPropertyBag** bag) noexcept;
[[nodiscard]] HRESULT CreateMemoryStorage(IStorage** storage) noexcept;

}  // namespace kx::platform
