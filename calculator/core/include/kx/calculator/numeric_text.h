#pragma once
// The window's texts and dates as the numbers a calculation run works with.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kx::calculator {

// Value of the longest leading number of `text`: an optional sign, digits with an optional "."
// and more digits, and an optional exponent ("e" or "E", optional sign, digits). Blanks (space,
// tab, CR, LF) are skipped wherever they stand, and "." is the decimal separator whatever the
// locale. A text without a leading number ("", "-", ".", "abc") gives 0; "12:30" gives 12.
// nullopt when the number is too large for a double ("1e400"): the run treats that as an error.
[[nodiscard]] std::optional<double> NumericValue(std::u16string_view text);

// Calendar-day boundaries crossed from `now` to `expiry`; times of day play no part, and a
// past expiry gives a negative count.
[[nodiscard]] constexpr int CalendarDays(std::chrono::sys_days now,
                                         std::chrono::sys_days expiry) noexcept {
  return static_cast<int>((expiry - now).count());
}

// The nearest 16-bit integer, ties to even (2.5 gives 2, 3.5 gives 4, -32768.5 gives -32768).
// nullopt for NaN or when the rounded value lies outside -32768..32767: never clamped.
[[nodiscard]] std::optional<std::int16_t> RoundToInt16(double value) noexcept;

}  // namespace kx::calculator
