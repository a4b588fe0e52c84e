#include "kx/calculator/options_control.h"

#include <gtest/gtest.h>

#include "fake_options_control.h"

namespace kx::calculator {
namespace {

using namespace kx::platform;
using fakes::FakeOptionsControl;

TEST(ArgList, ReversesCallOrderAndPassesDoublesByReference) {
  double s = 100, k = 95;
  ArgList args;
  const auto reversed = args.Ref(s).Int(7).Ref(k).Reversed();
  ASSERT_EQ(reversed.size(), 3u);
  EXPECT_EQ(reversed[0].vt, VT_BYREF | VT_R8);
  EXPECT_EQ(reversed[0].pdblVal, &k);
  EXPECT_EQ(reversed[1].vt, VT_I4);
  EXPECT_EQ(reversed[1].lVal, 7);
  EXPECT_EQ(reversed[2].pdblVal, &s);
  // Asking twice does not reverse them back.
  EXPECT_EQ(args.Reversed()[0].pdblVal, &k);
}

TEST(ControlSite, ForwardsCallsUntilReleased) {
  auto fake = std::make_unique<FakeOptionsControl>();
  FakeOptionsControl& seen = *fake;
  auto destroyed = fake->destroyed;
  ControlSite site(std::move(fake));
  ArgList none;
  EXPECT_EQ(site.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr), S_OK);
  EXPECT_EQ(seen.calls.size(), 1u);
  site.Release();
  EXPECT_TRUE(*destroyed);
  EXPECT_EQ(site.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr), E_UNEXPECTED);
}

// The window unloads while a pumped call waits: Abort still reaches the control, the control
// lives until the waiting call returns, and nothing after the release reaches it.
TEST(ControlSite, ReleaseDuringACallWaitsForThatCall) {
  auto fake = std::make_unique<FakeOptionsControl>();
  FakeOptionsControl& seen = *fake;
  auto destroyed = fake->destroyed;
  ControlSite site(std::move(fake));
  bool destroyed_inside = true;
  seen.during_call = [&](const fakes::RecordedCall& call) {
    if (call.member != dispid::kBinPriceGreeks) return;
    ArgList none;
    EXPECT_EQ(site.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr), S_OK);
    site.Release();
    destroyed_inside = *destroyed;
    EXPECT_TRUE(site.call_in_progress());
  };
  ArgList none;
  EXPECT_EQ(site.Invoke(dispid::kBinPriceGreeks, DISPATCH_METHOD, none.Reversed(), nullptr), S_OK);
  EXPECT_FALSE(destroyed_inside);
  EXPECT_TRUE(*destroyed);
  EXPECT_FALSE(site.call_in_progress());
  EXPECT_EQ(site.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr), E_UNEXPECTED);
}

TEST(ControlSite, WithoutAControlEveryCallFails) {
  ControlSite site(nullptr);
  ArgList none;
  EXPECT_EQ(site.Invoke(dispid::kAbort, DISPATCH_METHOD, none.Reversed(), nullptr), E_UNEXPECTED);
}

}  // namespace
}  // namespace kx::calculator
