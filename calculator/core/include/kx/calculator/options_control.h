#pragma once
// The pricing control `ctlOptions` as the calculator reaches it: late-bound calls by dispatch
// identifier, never through the component's headers.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kx/platform/hresult.h"
#include "kx/platform/unknown.h"
#include "kx/platform/variant.h"

namespace kx::calculator {

using platform::DISPID;
using platform::HRESULT;
using platform::LONG;
using platform::VARIANT;
using platform::VARIANTARG;
using platform::WORD;

// Dispatch identifiers of the members the calculator calls, as the type library numbers them.
namespace dispid {
inline constexpr DISPID kBase = 1;
inline constexpr DISPID kBlockingMode = 2;
inline constexpr DISPID kBSCallPrice = 10;
inline constexpr DISPID kBSPutPrice = 11;
inline constexpr DISPID kBSDelta = 12;
inline constexpr DISPID kBSTheta = 13;
inline constexpr DISPID kBSGamma = 14;
inline constexpr DISPID kBSVega = 15;
inline constexpr DISPID kBSRho = 16;
inline constexpr DISPID kBSImpliedVolatility = 17;
inline constexpr DISPID kBSImpliedVolatilityPut = 18;
inline constexpr DISPID kBinPriceGreeks = 43;
inline constexpr DISPID kBinImpliedVolatility = 49;
inline constexpr DISPID kBinImpliedVolatilityPut = 50;
inline constexpr DISPID kAbort = 500;
}  // namespace dispid

class OptionsControl {
 public:
  virtual ~OptionsControl() = default;
  // One late-bound call. `args_reversed` holds the arguments last one first, as DISPPARAMS
  // does; a property put passes its value as the only argument. `result` (may be null)
  // receives the member's retval output. Returns the member's HRESULT.
  [[nodiscard]] virtual HRESULT Invoke(DISPID member, WORD flags,
                                       std::span<VARIANTARG> args_reversed, VARIANT* result) = 0;
  // The object's description of why its last failed call failed (UTF-8), or "" when it gave
  // none. Only the status line reads it; the run itself shows no message.
  [[nodiscard]] virtual std::string LastError() const { return {}; }
};

// Builds an argument list in call order: doubles by reference to the caller's own variables
// (VT_BYREF | VT_R8), integers by value as VT_I4. Omitted trailing optional arguments are
// simply not added. Owns nothing that needs clearing.
class ArgList {
 public:
  ArgList& Ref(double& value);
  ArgList& Int(LONG value);
  // The arguments last one first, ready for OptionsControl::Invoke.
  [[nodiscard]] std::span<VARIANTARG> Reversed();

 private:
  std::vector<VARIANTARG> args_;
  bool reversed_ = false;
};

// Holds the window's control from load to unload. The window may unload while one of the
// control's calls is still waiting (a pumped binomial computation): Release then only marks the
// control, and the control is destroyed when that outermost call has returned. Calls made after
// Release fail with E_UNEXPECTED without reaching the control, so the run that was interrupted
// goes to its error step instead of starting the next computation.
class ControlSite final : public OptionsControl {
 public:
  explicit ControlSite(std::unique_ptr<OptionsControl> control) noexcept;
  ~ControlSite() override;
  ControlSite(const ControlSite&) = delete;
  ControlSite& operator=(const ControlSite&) = delete;

  [[nodiscard]] HRESULT Invoke(DISPID member, WORD flags, std::span<VARIANTARG> args_reversed,
                               VARIANT* result) override;
  [[nodiscard]] std::string LastError() const override;
  void Release() noexcept;
  [[nodiscard]] bool released() const noexcept { return released_; }
  [[nodiscard]] bool call_in_progress() const noexcept { return depth_ > 0; }

 private:
  std::unique_ptr<OptionsControl> control_;
  int depth_ = 0;
  bool released_ = false;
};

}  // namespace kx::calculator
