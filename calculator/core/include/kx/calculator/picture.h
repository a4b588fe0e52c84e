#pragma once
// Numbers written by a numeric picture, as the result fields show them.
#include <string>
#include <string_view>

namespace kx::calculator {

inline constexpr std::string_view kPricePicture = "#0.0000";     // prices and Greeks
inline constexpr std::string_view kVolatilityPicture = "#0.00";  // implied volatilities

// Writes `value` by a picture of the form "#0.0000": at least as many integer digits as the
// picture has zeros before its ".", exactly as many decimals as zeros after it, no grouping, a
// leading "-" for a negative value that does not round to zero, and always "." as the decimal
// separator. Like the forms runtime, the value is first taken to 15 significant digits, then
// rounded half away from zero (1.00005 gives "1.0001"). NaN and infinities give "nan", "inf"
// and "-inf".
[[nodiscard]] std::string FormatPicture(double value, std::string_view picture);

}  // namespace kx::calculator
