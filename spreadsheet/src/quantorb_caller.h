// Calls the registered Korvane.Quantorb object's pricing members the way any late-bound host does
// (activation through the registry, IDispatch::Invoke by DISPID) and turns what a worksheet
// passes and receives into plain numbers. Knows no spreadsheet API, so tests reach it directly.
#pragma once

#include <cstddef>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "kx/platform/comptr.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/variant.h"

namespace kx::spreadsheet {

using kx::platform::DISPID;
using kx::platform::VARTYPE;
using kx::platform::VT_I2;
using kx::platform::VT_I4;
using kx::platform::VT_R8;
using kx::platform::VT_VARIANT;

enum class ParamRole { kScalarIn, kArrayIn, kScalarOut, kArrayOut };

struct ParamInfo {
  const char* name;
  ParamRole role;
  VARTYPE vt;
  bool optional;            // as the type library declares it
  bool worksheet_optional;  // may be left out in a formula
  bool retval;
  int pairs_with;           // result array: index of the value array it answers, else -1
  const char* description;  // inputs only
};

struct MemberInfo {
  const char* name;          // the member, also the function's programmatic name
  const char* display_name;  // what a worksheet user types
  DISPID dispid;
  const char* description;
  std::span<const ParamInfo> params;  // declared order, outputs included
};

/// Numbers in rows, row-major; a single number is 1 x 1.
struct Matrix {
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::vector<double> values;
  [[nodiscard]] double at(std::size_t r, std::size_t c) const { return values[r * cols + c]; }
};

/// One worksheet argument: left out, one number, or a range.
struct Input {
  enum class Kind { kMissing, kNumber, kRange } kind = Kind::kMissing;
  double number = 0;
  Matrix range;
  static Input Missing() { return {}; }
  static Input Number(double v) { return {Kind::kNumber, v, {}}; }
  static Input Range(Matrix m) { return {Kind::kRange, 0, std::move(m)}; }
};

/// A call's outcome: the outputs laid out for the sheet, or the reason it was refused.
struct CallResult {
  bool ok = false;
  Matrix values;
  std::string error;
};

/// The worksheet-facing inputs of a member (what a formula passes), in declared order.
[[nodiscard]] std::vector<const ParamInfo*> WorksheetInputs(const MemberInfo& member);

class QuantorbCaller {
 public:
  QuantorbCaller() = default;
  ~QuantorbCaller();
  QuantorbCaller(const QuantorbCaller&) = delete;
  QuantorbCaller& operator=(const QuantorbCaller&) = delete;

  /// Runs one member with the worksheet's inputs (one per WorksheetInputs entry). Outputs:
  /// one number; several scalars as one row in declared order; one result array as one row;
  /// several result arrays as one row per element, one column per array.
  [[nodiscard]] CallResult Call(const MemberInfo& member, std::span<const Input> inputs);

  /// "<FUNCTION>: <reason>" of the latest refused call; empty when none was refused.
  [[nodiscard]] std::string LastError() const;

 private:
  [[nodiscard]] bool EnsureObject(std::string* why);
  CallResult Refuse(const MemberInfo& member, std::string why);

  mutable std::mutex mutex_;
  kx::platform::ComPtr<kx::platform::IDispatch> object_;
  std::string last_error_;
};

}  // namespace kx::spreadsheet
