#include "kx/calculator/picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace kx::calculator {
namespace {

constexpr int kSignificantDigits = 15;

struct PictureShape {
  std::size_t integer_digits = 0;  // zeros before "."
  std::size_t decimals = 0;        // zeros after "."
};

PictureShape ParsePicture(std::string_view picture) noexcept {
  const auto point = picture.find('.');
  const auto integer_part = picture.substr(0, point);
  const auto fraction =
      point == std::string_view::npos ? std::string_view{} : picture.substr(point + 1);
  return {static_cast<std::size_t>(std::count(integer_part.begin(), integer_part.end(), '0')),
          static_cast<std::size_t>(std::count(fraction.begin(), fraction.end(), '0'))};
}

// Adds one to a decimal digit string ("" counts as 0).
void Increment(std::string& digits) {
  auto it = digits.rbegin();
  for (; it != digits.rend() && *it == '9'; ++it) *it = '0';
  if (it == digits.rend())
    digits.insert(digits.begin(), '1');
  else
    ++*it;
}

}  // namespace

std::string FormatPicture(double value, std::string_view picture) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  const PictureShape shape = ParsePicture(picture);

  // |value| to 15 significant digits as d.dddddddddddddde±x; to_chars ignores the locale.
  char buffer[40];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific, kSignificantDigits - 1);
  const std::string_view sci(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const auto e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c != '.') digits += c;
  int exponent = 0;
  const auto exponent_text = sci.substr(e + 1 + (sci[e + 1] == '+' ? 1 : 0));
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

  // scaled = |value| × 10^decimals rounded half away from zero, as decimal digits.
  std::string scaled;
  const int kept = exponent + 1 + static_cast<int>(shape.decimals);
  if (kept >= kSignificantDigits) {
    scaled = digits + std::string(static_cast<std::size_t>(kept - kSignificantDigits), '0');
  } else if (kept >= 0) {
    scaled = digits.substr(0, static_cast<std::size_t>(kept));
    if (digits[static_cast<std::size_t>(kept)] >= '5') Increment(scaled);
  }  // else: far below the last decimal, so zero
  const bool is_zero = scaled.find_first_not_of('0') == std::string::npos;

  const std::size_t width = shape.integer_digits + shape.decimals;
  if (scaled.size() < width) scaled.insert(0, width - scaled.size(), '0');
  const std::size_t integer_length = scaled.size() - shape.decimals;
  std::size_t leading = 0;  // zeros beyond the picture's required integer digits
  while (integer_length - leading > shape.integer_digits && scaled[leading] == '0') ++leading;

  std::string text = (value < 0 && !is_zero) ? "-" : "";
  text += scaled.substr(leading, integer_length - leading);
  if (shape.decimals > 0) text.append(1, '.').append(scaled, integer_length);
  return text;
}

}  // namespace kx::calculator
