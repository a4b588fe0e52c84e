// The arguments of one late-bound call, laid out as DISPPARAMS from values in declared order,
// and what the call left behind (the member's own result code, error information, outputs).
// Generic clients convert their own values (JSON, Python) and share this layout: omitted
// arguments as VT_ERROR / DISP_E_PARAMNOTFOUND, by-reference parameters pointing at storage
// owned by the frame, output storage holding the declared type's zero.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/variant.h"
#include "type_members.h"

namespace kx::kxauto {

class CallFrame {
 public:
  /// `params` in declared order, retval included.
  explicit CallFrame(std::vector<ParamInfo> params);
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  /// Passes parameter i as omitted (the default for every parameter).
  void Omit(std::size_t i);
  /// Passes `value` for parameter i: by value, or by reference to the frame's copy of it
  /// coerced to the declared type. False when it cannot be a value of that type.
  [[nodiscard]] bool Pass(std::size_t i, kx::platform::Variant value);
  /// Gives parameter i storage for an output: the declared type's zero, a null text or an
  /// empty VARIANT. False when the declared type cannot be held.
  [[nodiscard]] bool ProvideOutput(std::size_t i);

  /// The arguments, up to the last one that is not omitted; `put` names the one argument of a
  /// property put. Valid until the frame changes.
  [[nodiscard]] kx::platform::DISPPARAMS* Params(bool put);

  /// Whether parameter i was passed (a value or output storage) in the last Params().
  [[nodiscard]] bool Passed(std::size_t i) const {
    return i < kinds_.size() && kinds_[i] != kOmitted;
  }
  /// What parameter i holds after the call (by-reference storage as written by the member).
  [[nodiscard]] const kx::platform::VARIANT& Value(std::size_t i) const { return storage_[i]; }
  /// The declared parameter at fault for a dispatch's argument error index, if any.
  [[nodiscard]] std::optional<std::size_t> ParamAt(kx::platform::UINT arg_err) const;
  /// The retval parameter's declared index, if it has one.
  [[nodiscard]] std::optional<std::size_t> Retval() const;
  [[nodiscard]] const std::vector<ParamInfo>& params() const { return params_; }

 private:
  enum Kind { kOmitted, kByValue, kByReference };
  std::vector<ParamInfo> params_;
  std::vector<kx::platform::Variant> storage_;  // never reallocated: references point into it
  std::vector<Kind> kinds_;
  std::vector<kx::platform::VARIANT> reversed_;
  std::vector<std::size_t> param_of_arg_;  // declared index of each rgvarg entry
  kx::platform::DISPID named_put_ = kx::platform::DISPID_PROPERTYPUT;
  kx::platform::DISPPARAMS dispparams_{};
};

/// A call's outcome: the member's own result code (the error's code when the dispatch reports
/// an exception) and the error information's texts where there are some.
struct CallOutcome {
  kx::platform::HRESULT dispatch_hr = kx::platform::S_OK;
  kx::platform::HRESULT member_hr = kx::platform::S_OK;
  std::optional<std::string> source;
  std::optional<std::string> description;
  bool has_error_info = false;
};

/// Reads the EXCEPINFO of a call that returned `hr` (freeing its texts) and the thread's error
/// information when the EXCEPINFO carried none.
[[nodiscard]] CallOutcome ReadOutcome(kx::platform::HRESULT hr, kx::platform::EXCEPINFO* excep);

}  // namespace kx::kxauto
