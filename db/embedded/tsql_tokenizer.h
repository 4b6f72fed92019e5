// Splits T-SQL text into tokens: words (names and keywords, #temp names
// included), quoted names ([x], and "x" under QUOTED_IDENTIFIER ON),
// string literals ('x', N'x', and "x" under QUOTED_IDENTIFIER OFF), numbers
// and symbols. Comments and blanks are dropped.
#ifndef AGENT_DB_EMBEDDED_TSQL_TOKENIZER_H_
#define AGENT_DB_EMBEDDED_TSQL_TOKENIZER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace agent::tsql {

struct Token {
  enum class Kind { Word, QuotedName, String, Number, Symbol, End };
  Kind kind = Kind::End;
  std::string text;        // a string's or quoted name's content, unescaped
  std::size_t offset = 0;  // where the token starts in the statement text
  std::size_t end = 0;     // one past its last character

  bool isWord(std::string_view keyword) const;  // case-insensitive
  bool isSymbol(std::string_view symbol) const { return kind == Kind::Symbol && text == symbol; }
};

// Tokenizes text from offset on; the last token is always Kind::End. Throws
// DbError 105 for a string that is not closed.
std::vector<Token> tokenize(std::string_view text, bool quotedIdentifier, std::size_t offset = 0);

}  // namespace agent::tsql

#endif  // AGENT_DB_EMBEDDED_TSQL_TOKENIZER_H_
