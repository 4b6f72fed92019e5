#include "db/embedded/tsql_tokenizer.h"

#include <cctype>

#include "base/text.h"
#include "db/embedded/engine_errors.h"

namespace agent::tsql {

namespace {

bool isNameStart(unsigned char c) {
  return std::isalpha(c) || c == '_' || c == '#' || c == '@' || c >= 0x80;
}
bool isNamePart(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '#' || c == '@' || c == '$' || c >= 0x80;
}

// Reads a quoted run closed by `close`, where a doubled `close` stands for
// one. Returns the position after the closing character, or npos.
std::size_t readQuoted(std::string_view s, std::size_t i, char close, std::string* out) {
  for (std::size_t k = i; k < s.size(); ++k) {
    if (s[k] == close) {
      if (k + 1 < s.size() && s[k + 1] == close) {
        out->push_back(close);
        ++k;
        continue;
      }
      return k + 1;
    }
    out->push_back(s[k]);
  }
  return std::string_view::npos;
}

// The end of the number that starts at i: hexadecimal 0x..., or digits
// with an optional fraction and exponent (an "e" with no digits after it
// is left to the next token).
std::size_t numberEnd(std::string_view s, std::size_t i) {
  auto digitsFrom = [&](std::size_t k) {
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
    return k;
  };
  std::size_t k = i;
  if (s[k] == '0' && k + 1 < s.size() && (s[k + 1] == 'x' || s[k + 1] == 'X')) {
    k += 2;
    while (k < s.size() && std::isxdigit(static_cast<unsigned char>(s[k]))) ++k;
    return k;
  }
  k = digitsFrom(k);
  if (k < s.size() && s[k] == '.') k = digitsFrom(k + 1);
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    std::size_t e = k + 1;
    if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
    if (e < s.size() && std::isdigit(static_cast<unsigned char>(s[e]))) k = digitsFrom(e);
  }
  return k;
}

// Skips blanks and comments from i; returns the position of the next
// token's first character (or the end).
std::size_t skipBlanksAndComments(std::string_view s, std::size_t i) {
  while (i < s.size()) {
    if (std::isspace(static_cast<unsigned char>(s[i]))) {
      ++i;
    } else if (s.substr(i, 2) == "--") {
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (s.substr(i, 2) == "/*") {
      std::size_t close = s.find("*/", i + 2);
      i = close == std::string_view::npos ? s.size() : close + 2;
    } else {
      break;
    }
  }
  return i;
}

}  // namespace

bool Token::isWord(std::string_view keyword) const {
  return kind == Kind::Word && equalsIgnoreCase(text, keyword);
}

std::vector<Token> tokenize(std::string_view s, bool quotedIdentifier, std::size_t offset) {
  std::vector<Token> tokens;
  for (std::size_t i = skipBlanksAndComments(s, offset); i < s.size();
       i = skipBlanksAndComments(s, i)) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    Token t;
    t.offset = i;
    bool national = (c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'';
    if (c == '\'' || national || (c == '"' && !quotedIdentifier)) {
      std::size_t start = i + (national ? 2 : 1);
      char close = national ? '\'' : static_cast<char>(c);
      t.kind = Token::Kind::String;
      std::size_t next = readQuoted(s, start, close, &t.text);
      if (next == std::string_view::npos) throw unclosedQuoteError(std::string(s.substr(start)));
      i = next;
    } else if (c == '[' || c == '"') {
      t.kind = Token::Kind::QuotedName;
      std::size_t next = readQuoted(s, i + 1, c == '[' ? ']' : '"', &t.text);
      if (next == std::string_view::npos) throw unclosedQuoteError(std::string(s.substr(i + 1)));
      i = next;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() &&
                                   std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      t.kind = Token::Kind::Number;
      std::size_t k = numberEnd(s, i);
      t.text = std::string(s.substr(i, k - i));
      i = k;
    } else if (isNameStart(c)) {
      t.kind = Token::Kind::Word;
      std::size_t k = i + 1;
      while (k < s.size() && isNamePart(static_cast<unsigned char>(s[k]))) ++k;
      t.text = std::string(s.substr(i, k - i));
      i = k;
    } else {
      t.kind = Token::Kind::Symbol;
      static constexpr std::string_view kTwo[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
      std::size_t length = 1;
      for (std::string_view two : kTwo) {
        if (s.substr(i, 2) == two) length = 2;
      }
      t.text = std::string(s.substr(i, length));
      i += length;
    }
    t.end = i;
    tokens.push_back(std::move(t));
  }
  Token end;
  end.kind = Token::Kind::End;
  end.offset = end.end = s.size();
  tokens.push_back(end);
  return tokens;
}

}  // namespace agent::tsql
