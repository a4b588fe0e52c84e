// Tokens of the module's resource texts (the type library description and the resource script):
// names, numbers, quoted texts and single punctuation characters, with // comments skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kx::component {

enum class TokenKind { kEnd, kName, kNumber, kText, kPunct };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;  // a name, the digits of a number, the unquoted text, or the character
  int line = 1;
};

/// Reads one text front to back. Quoted texts use "" for a quote inside them; a text does not
/// span lines. Anything else that is not a name, number or blank is a one-character kPunct.
class ResourceLexer {
 public:
  explicit ResourceLexer(std::string_view source) noexcept : source_(source) {}

  /// The next token without consuming it.
  [[nodiscard]] const Token& Peek();
  [[nodiscard]] Token Next();
  /// Consumes the next token when it is this punctuation character or this name.
  [[nodiscard]] bool Accept(char punct);
  [[nodiscard]] bool AcceptName(std::string_view name);
  /// The raw characters up to (not including) `stop`, consumed with it; for GUIDs in uuid(...).
  /// False when the line ends first.
  [[nodiscard]] bool ReadRawUntil(char stop, std::string* raw);
  [[nodiscard]] int line() { return Peek().line; }
  /// Set when a text was left unterminated; the lexer then reports kEnd.
  [[nodiscard]] const std::string& error() const noexcept { return error_; }

 private:
  void SkipBlanksAndComments();
  Token Scan();

  std::string_view source_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool peeked_ = false;
  Token peek_;
  std::string error_;
};

}  // namespace kx::component
