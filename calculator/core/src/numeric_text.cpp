#include "kx/calculator/numeric_text.h"

#include <locale.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
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

// The C locale, whatever the program's own: Qt sets LC_NUMERIC from the environment.
locale_t CLocale() noexcept {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  return c_locale;
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
    if (exponent_digits) number += exponent;
  }
  const double value = strtod_l(number.c_str(), nullptr, CLocale());
  if (std::isinf(value)) return std::nullopt;  // overflow; underflow quietly gives 0 or a denormal
  return value;
}

std::optional<std::int16_t> RoundToInt16(double value) noexcept {
  // nearbyint rounds in the current mode, which is to nearest with ties to even.
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) return std::nullopt;  // NaN fails here too
  return static_cast<std::int16_t>(rounded);
}

}  // namespace kx::calculator
