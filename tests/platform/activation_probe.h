#pragma once
// The class served by the test module (kx_test_probe.so) and its one custom interface.
#include "kx/platform/guid.h"
#include "kx/platform/unknown.h"

namespace kx::platform::test_support {

// {5A0C0E11-7D2B-4F3A-9C61-0B8E2A6F4D01}
constexpr CLSID kClsidTestProbe{
    0x5A0C0E11, 0x7D2B, 0x4F3A, {0x9C, 0x61, 0x0B, 0x8E, 0x2A, 0x6F, 0x4D, 0x01}};
// {5A0C0E12-7D2B-4F3A-9C61-0B8E2A6F4D01}
constexpr IID kIidTestProbe{
    0x5A0C0E12, 0x7D2B, 0x4F3A, {0x9C, 0x61, 0x0B, 0x8E, 0x2A, 0x6F, 0x4D, 0x01}};

struct ITestProbe : IUnknown {
  virtual HRESULT Twice(LONG value, LONG* result) = 0;
  // Objects of the module alive now (including this one).
  virtual HRESULT LiveObjects(LONG* count) = 0;

 protected:
  ~ITestProbe() = default;
};

}  // namespace kx::platform::test_support
