// Tokens of the module's resource texts (the type library description and the resource script):
// names, numbers, quoted texts and single punctuation characters, with // comments skipped; and
// how the parsers of those texts report a fault.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "kx/platform/hresult.h"

namespace kx::component {

/// A fault in a resource text; the message names its line.
struct ResourceTextError {
  std::string message;
};

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
  /// Throw ResourceTextError "line <n>: <why>", at the next token's line or at `line`. An
  /// unterminated text is reported instead: what follows it was misread.
  [[noreturn]] void Fail(const std::string& why);
  [[noreturn]] void FailAt(int line, const std::string& why) const;
  /// Consumes this punctuation character, or fails with "expected 'c', found '...'".
  void Expect(char punct);
  /// At the end of a text: fails when a text was left unterminated (the lexer then reports kEnd).
  void ExpectNoError() const;

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

/// Runs a parser that reports faults with ResourceTextError: S_OK, or E_INVALIDARG with the
/// fault in `diagnostic` (when given), or E_OUTOFMEMORY.
template <typename Parse>
[[nodiscard]] kx::platform::HRESULT RunResourceTextParser(Parse&& parse, std::string* diagnostic) {
  try {
    parse();
    return kx::platform::S_OK;
  } catch (const ResourceTextError& e) {
    if (diagnostic) *diagnostic = e.message;
    return kx::platform::E_INVALIDARG;
  } catch (const std::bad_alloc&) {
    return kx::platform::E_OUTOFMEMORY;
  }
}

}  // namespace kx::component
