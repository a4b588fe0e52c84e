#pragma once
// VARIANT arguments as a late-binding client builds them for IDispatch::Invoke.
#include "kx/platform/variant.h"

namespace kx::platform::test_support {

[[nodiscard]] inline VARIANT R8(double v) {
  VARIANT x;
  x.vt = VT_R8;
  x.dblVal = v;
  return x;
}
[[nodiscard]] inline VARIANT I4(LONG v) {
  VARIANT x;
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}
[[nodiscard]] inline VARIANT I2(SHORT v) {
  VARIANT x;
  x.vt = VT_I2;
  x.iVal = v;
  return x;
}
[[nodiscard]] inline VARIANT RefR8(double* v) {
  VARIANT x;
  x.vt = VT_BYREF | VT_R8;
  x.pdblVal = v;
  return x;
}
[[nodiscard]] inline VARIANT RefVariant(VARIANT* v) {
  VARIANT x;
  x.vt = VT_BYREF | VT_VARIANT;
  x.pvarVal = v;
  return x;
}
// An omitted optional argument.
[[nodiscard]] inline VARIANT Missing() {
  VARIANT x;
  x.vt = VT_ERROR;
  x.scode = DISP_E_PARAMNOTFOUND;
  return x;
}

}  // namespace kx::platform::test_support
