// The resource script parser: any text; what parses must hold only what the subset allows.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "resource_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kx::component::ResourceScript script;
  std::string diagnostic;
  const kx::platform::HRESULT hr = kx::component::ParseResourceScript(text, &script, &diagnostic);
  if (kx::platform::FAILED(hr)) {
    KX_FUZZ_CHECK(hr == kx::platform::E_INVALIDARG || hr == kx::platform::E_OUTOFMEMORY);
    KX_FUZZ_CHECK(hr == kx::platform::E_OUTOFMEMORY || !diagnostic.empty());
    return 0;
  }
  for (const auto& file : script.files) {
    KX_FUZZ_CHECK(file.type == "TYPELIB" || file.type == "REGISTRY" || file.type == "BITMAP" ||
                  file.type == "ICON");
  }
  return 0;
}
