#include "kx/calculator/numeric_text.h"

#include <charconv>
#include <cmath>
#include <string>

namespace kx::calculator {
namespace {

constexpr bool IsBlank(char16_t c) noexcept {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}
constexpr bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

// Reads characters with the blanks left out.
class Reader {
 public:
  explicit Reader(std::u16string_view text) noexcept : text_(text) { Skip(); }
  [[nodiscard]] char16_t Peek() const noexcept { return pos_ < text_.size() ? text_[pos_] : 0; }
  char16_t Take() noexcept {
    char16_t c = Peek();
    ++pos_;
    Skip();
    return c;
  }

 private:
  void Skip() noexcept {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  std::u16string_view text_;
  std::size_t pos_ = 0;
};

// The digits as a double, "." always the decimal point whatever the program's locale (Qt sets
// LC_NUMERIC from the environment). nullopt on overflow; an underflow gives 0.
std::optional<double> ParseDouble(const std::string& number, const std::string& exponent) {
  const std::string text = number + exponent;
  const char* first = text.c_str() + (text.front() == '+' ? 1 : 0);  // from_chars takes no '+'
  double value = 0;
  if (std::from_chars(first, text.c_str() + text.size(), value).ec == std::errc{}) return value;
  // Out of range: too large or too small. The digits alone decide which, with the exponent.
  const char* digits = number.c_str() + (number.front() == '+' ? 1 : 0);
  double mantissa = 0;
  if (std::from_chars(digits, number.c_str() + number.size(), mantissa).ec != std::errc{}) {
    mantissa = number.find_first_of("123456789") < number.find('.') ? HUGE_VAL : 0.0;
  }
  const double power = exponent.empty() ? 0.0 : std::stod(exponent.substr(1));
  if (std::isinf(mantissa) || std::log10(std::abs(mantissa)) + power > 0) return std::nullopt;
  return std::signbit(mantissa) ? -0.0 : 0.0;
}

}  // namespace

std::optional<double> NumericValue(std::u16string_view text) {
  Reader in(text);
  std::string number;
  if (in.Peek() == u'-' || in.Peek() == u'+') number += static_cast<char>(in.Take());
  bool has_digits = false;
  while (IsDigit(in.Peek())) {
    number += static_cast<char>(in.Take());
    has_digits = true;
  }
  if (in.Peek() == u'.') {
    number += static_cast<char>(in.Take());
    while (IsDigit(in.Peek())) {
      number += static_cast<char>(in.Take());
      has_digits = true;
    }
  }
  if (!has_digits) return 0.0;
  if (in.Peek() == u'e' || in.Peek() == u'E') {
    // The exponent counts only when digits follow it: "2e" and "2e-" read as 2.
    std::string exponent(1, static_cast<char>(in.Take()));
    if (in.Peek() == u'-' || in.Peek() == u'+') exponent += static_cast<char>(in.Take());
    bool exponent_digits = false;
    while (IsDigit(in.Peek())) {
      exponent += static_cast<char>(in.Take());
      exponent_digits = true;
    }
    if (exponent_digits) return ParseDouble(number, exponent);
  }
  return ParseDouble(number, "");
}

std::optional<std::int16_t> RoundToInt16(double value) noexcept {
  // nearbyint rounds in the current mode, which is to nearest with ties to even.
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) return std::nullopt;  // NaN fails here too
  return static_cast<std::int16_t>(rounded);
}

}  // namespace kx::calculator
