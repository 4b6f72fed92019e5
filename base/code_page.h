// Conversions between the program's UTF-8 text and the 8-bit ANSI code
// page (Windows-1252) that the settings file and the export files use.
#ifndef AGENT_BASE_CODE_PAGE_H_
#define AGENT_BASE_CODE_PAGE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace agent {

enum class CodePage { Windows1252, Utf8 };

// Every byte is a character; the five bytes Windows-1252 leaves undefined
// map to the C1 control of the same value, so any byte string round-trips.
std::string windows1252ToUtf8(std::string_view bytes);

// Characters the code page cannot hold become "?", as the platform's
// conversion does; replaced (when given) counts them. Malformed UTF-8 bytes
// count as one such character each.
std::string utf8ToWindows1252(std::string_view text, std::size_t* replaced = nullptr);

// text with every malformed UTF-8 sequence (a stray or truncated byte, an
// overlong form, a surrogate, a code point beyond U+10FFFF) written as "?",
// each counted in replaced (when given).
std::string validUtf8(std::string_view text, std::size_t* replaced = nullptr);

// The code page's bytes for text; for UTF-8, validUtf8(text).
std::string encodeForCodePage(std::string_view text, CodePage page,
                              std::size_t* replaced = nullptr);

// UTF-8 and UTF-16 (the wide ODBC API's text). Malformed input and unpaired
// surrogates become U+FFFD.
void appendUtf8(std::string& out, char32_t c);
// The code point starting at text[i], with i advanced past it; a malformed,
// truncated or overlong sequence, a surrogate or a code point beyond
// U+10FFFF yields U+FFFD for its first byte.
char32_t decodeUtf8(std::string_view text, std::size_t& i);
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
std::u16string utf8ToUtf16(std::string_view text);

// The first maxCharacters characters (not bytes) of a UTF-8 text.
std::string truncateCharacters(std::string_view text, std::size_t maxCharacters);
// The number of characters of a UTF-8 text.
std::size_t characterCount(std::string_view text);

}  // namespace agent

#endif  // AGENT_BASE_CODE_PAGE_H_
