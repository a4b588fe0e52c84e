#pragma once
// A pricing control that records every late-bound call and answers with made-up values, so the
// calculator can be tested without the component.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kx/calculator/options_control.h"

namespace kx::calculator::fakes {

struct RecordedArg {
  platform::VARTYPE vt = platform::VT_EMPTY;
  double* ref = nullptr;  // VT_BYREF | VT_R8: the caller's variable
  double value = 0;       // what that variable held when the call arrived
  LONG int_value = 0;     // VT_I4
};

struct RecordedCall {
  DISPID member = 0;
  WORD flags = 0;
  std::vector<RecordedArg> args;  // in call order (DISPPARAMS holds them reversed)
  bool wants_result = false;
};

// Where a member writes its outputs: indexes in call order of the by-reference outputs.
[[nodiscard]] inline std::vector<std::size_t> OutputPositions(DISPID member) {
  switch (member) {
    case dispid::kBSDelta:
    case dispid::kBSTheta:
    case dispid::kBSRho:
      return {6, 7};
    case dispid::kBSGamma:
    case dispid::kBSVega:
      return {6};
    case dispid::kBinPriceGreeks:
      return {10, 11, 12, 13, 14, 15, 16, 18, 20, 21};
    default:
      return {};
  }
}

// The value the fake writes to output `index` of `member` (or returns, index 99 for the retval).
[[nodiscard]] constexpr double FakeOutput(DISPID member, std::size_t index) noexcept {
  return member + static_cast<double>(index) / 100.0;
}
inline constexpr std::size_t kRetval = 99;

class FakeOptionsControl final : public OptionsControl {
 public:
  std::vector<RecordedCall> calls;
  std::map<DISPID, HRESULT> results;  // members that answer something other than S_OK
  // Runs after the call is recorded and before the outputs are written (a pumped wait, say).
  std::function<void(const RecordedCall&)> during_call;
  // Set to true by the destructor.
  std::shared_ptr<bool> destroyed = std::make_shared<bool>(false);
  // What a retval member places in its result.
  platform::VARTYPE retval_type = platform::VT_R8;
  // What LastError reports.
  std::string last_error;

  [[nodiscard]] std::string LastError() const override { return last_error; }

  ~FakeOptionsControl() override { *destroyed = true; }

  HRESULT Invoke(DISPID member, WORD flags, std::span<VARIANTARG> args_reversed,
                 VARIANT* result) override {
    using namespace kx::platform;
    RecordedCall call{member, flags, {}, result != nullptr};
    for (auto it = args_reversed.rbegin(); it != args_reversed.rend(); ++it) {
      RecordedArg arg{it->vt};
      if (it->vt == (VT_BYREF | VT_R8)) {
        arg.ref = it->pdblVal;
        arg.value = *it->pdblVal;
      }
      if (it->vt == VT_I4) arg.int_value = it->lVal;
      call.args.push_back(arg);
    }
    calls.push_back(call);
    if (during_call) during_call(calls.back());
    if (auto found = results.find(member); found != results.end() && FAILED(found->second)) {
      return found->second;
    }
    for (std::size_t index : OutputPositions(member)) {
      const std::size_t slot = args_reversed.size() - 1 - index;
      if (index < args_reversed.size() && args_reversed[slot].vt == (VT_BYREF | VT_R8)) {
        *args_reversed[slot].pdblVal = FakeOutput(member, index);
      }
    }
    if (result != nullptr) {
      result->vt = retval_type;
      if (retval_type == VT_R8) result->dblVal = FakeOutput(member, kRetval);
      if (retval_type == VT_I4) result->lVal = member;
      if (retval_type == VT_BSTR) result->bstrVal = SysAllocString(u"not a number");
    }
    auto found = results.find(member);
    return found == results.end() ? S_OK : found->second;
  }
};

}  // namespace kx::calculator::fakes
