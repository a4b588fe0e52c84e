// The component's error codes with their texts. Each failure has a fixed code, the text that Done
// reports (ErrorString), the description posted as error information and its ResultCode.
#pragma once

#include <cstdint>
#include <string_view>

#include "kx/platform/hresult.h"

namespace kx::component {

/// One entry per failure; two failures may share a code with different texts (3002, 3047).
enum class Failure : int {
  kMissingInputArray1,   // 3001
  kMissingInputArray2,   // 3002, skews
  kMissingOutputArray2,  // 3002, HistoricalVolatility's result VARIANT
  kMissingInputArray3,   // 3003
  kMissingInputArray4,   // 3004, PutValue absent while IVolatilityPut is present
  kMissingOutput,        // 3005, a null scalar output pointer
  kLockFailed,           // 3009
  kUnlockFailed,         // 30010
  kBadDimensions,        // 3022
  kBadInputType,         // 3047, input array not of doubles
  kBadOutputArrayType,   // 3047, result VARIANT refers to an array
  kBadTradingDays,       // 3053
  kNotOneDimensional,    // 3054
  kAborted,              // 3100
  kCallRefused,          // 3101, pricing call re-entered while a computation runs
  kBadInputData,         // 5070
  kOutOfMemory,          // 6003
  kBadLowerBound,        // 6004
  kWorkerNotStarted,     // 6005
  kBadOutputType,        // 6007
  kUnexpectedFault,      // 6008
  kInvalidArguments,     // 6010, description prefixed by the ErrorTitle
};

struct FailureText {
  std::int32_t code;
  std::u16string_view error_string;
  std::string_view description;
  kx::platform::HRESULT result;
};

/// The table entry of `failure`.
[[nodiscard]] const FailureText& TextOf(Failure failure) noexcept;

/// Result of a pricing call refused by the call gate (the platform's "call rejected by callee").
inline constexpr kx::platform::HRESULT RPC_E_CALL_REJECTED = kx::platform::MakeHresult(0x80010001);

inline constexpr std::u16string_view kNoErrorText = u"No Error";

}  // namespace kx::component
