#include "resource_lexer.h"

#include <cctype>

namespace kx::component {
namespace {

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

void ResourceLexer::SkipBlanksAndComments() {
  while (pos_ < source_.size()) {
    const char c = source_[pos_];
    if (c == '\n') {
      ++line_;
      ++pos_;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++pos_;
    } else if (c == '/' && pos_ + 1 < source_.size() && source_[pos_ + 1] == '/') {
      while (pos_ < source_.size() && source_[pos_] != '\n') ++pos_;
    } else {
      return;
    }
  }
}

Token ResourceLexer::Scan() {
  SkipBlanksAndComments();
  Token t;
  t.line = line_;
  if (pos_ >= source_.size() || !error_.empty()) return t;
  const char c = source_[pos_];
  if (IsNameStart(c)) {
    const std::size_t start = pos_;
    while (pos_ < source_.size() && IsNameChar(source_[pos_])) ++pos_;
    t.kind = TokenKind::kName;
    t.text = source_.substr(start, pos_ - start);
  } else if (IsDigit(c) || (c == '-' && pos_ + 1 < source_.size() && IsDigit(source_[pos_ + 1]))) {
    const std::size_t start = pos_++;
    while (pos_ < source_.size() && (IsNameChar(source_[pos_]) || source_[pos_] == '.')) ++pos_;
    t.kind = TokenKind::kNumber;
    t.text = source_.substr(start, pos_ - start);
  } else if (c == '"') {
    ++pos_;
    t.kind = TokenKind::kText;
    for (;;) {
      if (pos_ >= source_.size() || source_[pos_] == '\n') {
        error_ = "line " + std::to_string(t.line) + ": unterminated text";
        return Token{TokenKind::kEnd, {}, t.line};
      }
      if (source_[pos_] == '"') {
        if (pos_ + 1 < source_.size() && source_[pos_ + 1] == '"') {
          t.text += '"';
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      t.text += source_[pos_++];
    }
  } else {
    t.kind = TokenKind::kPunct;
    t.text = std::string(1, c);
    ++pos_;
  }
  return t;
}

const Token& ResourceLexer::Peek() {
  if (!peeked_) {
    peek_ = Scan();
    peeked_ = true;
  }
  return peek_;
}

Token ResourceLexer::Next() {
  (void)Peek();
  peeked_ = false;
  return std::move(peek_);
}

bool ResourceLexer::Accept(char punct) {
  const Token& t = Peek();
  if (t.kind != TokenKind::kPunct || t.text[0] != punct) return false;
  peeked_ = false;
  return true;
}

bool ResourceLexer::AcceptName(std::string_view name) {
  const Token& t = Peek();
  if (t.kind != TokenKind::kName || t.text != name) return false;
  peeked_ = false;
  return true;
}

void ResourceLexer::Fail(const std::string& why) { FailAt(line(), why); }

void ResourceLexer::FailAt(int line, const std::string& why) const {
  ExpectNoError();
  throw ResourceTextError{"line " + std::to_string(line) + ": " + why};
}

void ResourceLexer::Expect(char punct) {
  if (!Accept(punct)) Fail(std::string("expected '") + punct + "', found '" + Peek().text + "'");
}

void ResourceLexer::ExpectNoError() const {
  if (!error_.empty()) throw ResourceTextError{error_};
}

bool ResourceLexer::ReadRawUntil(char stop, std::string* raw) {
  // A peeked token was scanned past; raw reading only follows a consumed punctuation token.
  if (peeked_) return false;
  raw->clear();
  while (pos_ < source_.size() && source_[pos_] != stop) {
    if (source_[pos_] == '\n') return false;
    *raw += source_[pos_++];
  }
  if (pos_ >= source_.size()) return false;
  ++pos_;
  return true;
}

}  // namespace kx::component
