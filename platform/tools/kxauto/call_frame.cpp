#include "call_frame.h"

#include <utility>

#include "kx/platform/errorinfo.h"

namespace kx::kxauto {

using namespace kx::platform;

namespace {

VARIANT OmittedArgument() {
  VARIANT v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

VARTYPE BaseType(const ParamInfo& p) { return static_cast<VARTYPE>(p.vt & ~VT_BYREF); }

std::optional<std::string> Text(BSTR text) {
  if (!text) return std::nullopt;
  return BstrToUtf8(text);
}

}  // namespace

CallFrame::CallFrame(std::vector<ParamInfo> params)
    : params_(std::move(params)), storage_(params_.size()), kinds_(params_.size(), kOmitted) {}

void CallFrame::Omit(std::size_t i) {
  (void)VariantClear(&storage_[i]);
  kinds_[i] = kOmitted;
}

bool CallFrame::Pass(std::size_t i, Variant value) {
  const ParamInfo& p = params_[i];
  storage_[i] = std::move(value);
  const bool by_ref = (p.vt & VT_BYREF) != 0;
  kinds_[i] = by_ref ? kByReference : kByValue;
  const VARTYPE base = BaseType(p);
  // A pointer parameter receives exactly its declared type, so the coercion happens here.
  if (by_ref && base != VT_VARIANT && storage_[i].vt != base) {
    if (FAILED(VariantChangeType(&storage_[i], &storage_[i], 0, base))) {
      Omit(i);
      return false;
    }
  }
  return true;
}

bool CallFrame::ProvideOutput(std::size_t i) {
  const ParamInfo& p = params_[i];
  const VARTYPE base = BaseType(p);
  Variant& s = storage_[i];
  (void)VariantClear(&s);
  kinds_[i] = (p.vt & VT_BYREF) ? kByReference : kByValue;
  if (base == VT_BSTR) {
    s.vt = VT_BSTR;
    s.bstrVal = nullptr;
  } else if (base != VT_VARIANT && base != VT_EMPTY) {
    const Variant zero(0.0);
    if (FAILED(VariantChangeType(&s, &zero, 0, base))) {
      Omit(i);
      return false;
    }
  }
  return true;
}

DISPPARAMS* CallFrame::Params(bool put) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < params_.size(); ++i) {
    if (!params_[i].is_retval() && kinds_[i] != kOmitted) count = i + 1;
  }
  reversed_.clear();
  param_of_arg_.clear();
  for (std::size_t k = count; k-- > 0;) {
    if (params_[k].is_retval()) continue;
    param_of_arg_.push_back(k);
    switch (kinds_[k]) {
      case kOmitted:
        reversed_.push_back(OmittedArgument());
        break;
      case kByValue:
        reversed_.push_back(storage_[k]);
        break;
      case kByReference: {
        VARIANT ref;
        ref.vt = params_[k].vt;
        ref.byref = BaseType(params_[k]) == VT_VARIANT
                        ? static_cast<void*>(static_cast<VARIANT*>(&storage_[k]))
                        : static_cast<void*>(&storage_[k].llVal);
        reversed_.push_back(ref);
        break;
      }
    }
  }
  dispparams_ = DISPPARAMS{.rgvarg = reversed_.data(),
                           .rgdispidNamedArgs = put ? &named_put_ : nullptr,
                           .cArgs = static_cast<UINT>(reversed_.size()),
                           .cNamedArgs = put ? 1u : 0u};
  return &dispparams_;
}

std::optional<std::size_t> CallFrame::ParamAt(UINT arg_err) const {
  if (arg_err >= param_of_arg_.size()) return std::nullopt;
  return param_of_arg_[arg_err];
}

std::optional<std::size_t> CallFrame::Retval() const {
  for (std::size_t i = 0; i < params_.size(); ++i) {
    if (params_[i].is_retval()) return i;
  }
  return std::nullopt;
}

CallOutcome ReadOutcome(HRESULT hr, EXCEPINFO* excep) {
  CallOutcome outcome;
  outcome.dispatch_hr = hr;
  outcome.member_hr = hr;
  if (hr == DISP_E_EXCEPTION && excep) {
    if (excep->pfnDeferredFillIn) (void)excep->pfnDeferredFillIn(excep);
    if (excep->scode != 0) outcome.member_hr = excep->scode;
    outcome.source = Text(excep->bstrSource);
    outcome.description = Text(excep->bstrDescription);
    outcome.has_error_info = true;
    SysFreeString(excep->bstrSource);
    SysFreeString(excep->bstrDescription);
    SysFreeString(excep->bstrHelpFile);
    excep->bstrSource = excep->bstrDescription = excep->bstrHelpFile = nullptr;
  }
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info && !outcome.has_error_info) {
    Bstr source, description;
    (void)info->GetSource(source.put());
    (void)info->GetDescription(description.put());
    outcome.source = Text(source.get());
    outcome.description = Text(description.get());
    outcome.has_error_info = true;
  }
  return outcome;
}

}  // namespace kx::kxauto
