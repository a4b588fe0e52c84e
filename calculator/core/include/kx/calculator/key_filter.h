#pragma once
// The key filter of the eight numeric text boxes.

namespace kx::calculator {

inline constexpr char16_t kBackspace = 8;

// The key as the text box should receive it: `key` itself for backspace, "-", ".", the digits
// and ":", and 0 (swallowed) for anything else, including "/", blanks, letters and the control
// characters of the copy, cut and paste shortcuts. Only the character decides: a key that would
// leave the text non-numeric ("1-2", "3:") is still accepted, because the run reads every text
// leniently (NumericValue) and pasted text is not filtered either.
[[nodiscard]] constexpr char16_t FilterNumericKey(char16_t key) noexcept {
  const bool passes = key == kBackspace || (key >= u'-' && key <= u':' && key != u'/');
  return passes ? key : char16_t{0};
}

}  // namespace kx::calculator
