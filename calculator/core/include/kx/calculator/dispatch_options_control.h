#pragma once
// The real pricing control: the component's object created through the registry by its class,
// called through IDispatch::Invoke.
#include <memory>
#include <string>

#include "kx/calculator/options_control.h"
#include "kx/platform/comptr.h"
#include "kx/platform/guid.h"

namespace kx::calculator {

// The class the window hosts as ctlOptions ("Korvane.Quantorb.1").
inline constexpr platform::CLSID kClsidKvQuantorb{
    0x7C41E2A1, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};

class DispatchOptionsControl final : public OptionsControl {
 public:
  explicit DispatchOptionsControl(platform::ComPtr<platform::IDispatch> dispatch) noexcept
      : dispatch_(std::move(dispatch)) {}

  // Property puts name their value DISPID_PROPERTYPUT. Of the exception information the object
  // fills in, only the description of a failure is kept (for LastError); the rest is freed.
  [[nodiscard]] HRESULT Invoke(DISPID member, WORD flags, std::span<VARIANTARG> args_reversed,
                               VARIANT* result) override;
  [[nodiscard]] std::string LastError() const override { return last_error_; }

 private:
  platform::ComPtr<platform::IDispatch> dispatch_;
  std::string last_error_;
};

// Creates the object of `clsid` in process, through the registry, and wraps its IDispatch.
// Returns the HRESULT of the activation (REGDB_E_CLASSNOTREG when the component is not
// registered); `out` is set only on success.
[[nodiscard]] HRESULT CreateOptionsControl(std::unique_ptr<OptionsControl>& out,
                                           const platform::CLSID& clsid = kClsidKvQuantorb);

}  // namespace kx::calculator
