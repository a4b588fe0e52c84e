#include "kx/calculator/options_control.h"

#include <algorithm>

namespace kx::calculator {

using namespace kx::platform;

ArgList& ArgList::Ref(double& value) {
  VARIANTARG arg;
  arg.vt = VT_BYREF | VT_R8;
  arg.pdblVal = &value;
  args_.push_back(arg);
  return *this;
}

ArgList& ArgList::Int(LONG value) {
  VARIANTARG arg;
  arg.vt = VT_I4;
  arg.lVal = value;
  args_.push_back(arg);
  return *this;
}

std::span<VARIANTARG> ArgList::Reversed() {
  if (!reversed_) std::reverse(args_.begin(), args_.end());
  reversed_ = true;
  return args_;
}

ControlSite::ControlSite(std::unique_ptr<OptionsControl> control) noexcept
    : control_(std::move(control)) {}

ControlSite::~ControlSite() = default;

HRESULT ControlSite::Invoke(DISPID member, WORD flags, std::span<VARIANTARG> args_reversed,
                            VARIANT* result) {
  if (released_ || !control_) return E_UNEXPECTED;
  struct Depth {
    ControlSite& site;
    explicit Depth(ControlSite& s) : site(s) { ++site.depth_; }
    ~Depth() {
      if (--site.depth_ == 0 && site.released_) site.control_.reset();
    }
  } depth(*this);
  return control_->Invoke(member, flags, args_reversed, result);
}

std::string ControlSite::LastError() const { return control_ ? control_->LastError() : std::string(); }

void ControlSite::Release() noexcept {
  released_ = true;
  if (depth_ == 0) control_.reset();
}

}  // namespace kx::calculator
