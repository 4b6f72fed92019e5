#include "db/code_page.h"

#include <array>

namespace agent {

namespace {

// Unicode code points of bytes 0x80..0x9F in Windows-1252.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 character at text[i]; returns its length, or 0 when
// the bytes there are malformed.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& c) {
  unsigned char b = static_cast<unsigned char>(text[i]);
  std::size_t len = b < 0x80           ? 1
                    : (b >> 5) == 0x6  ? 2
                    : (b >> 4) == 0xE  ? 3
                    : (b >> 3) == 0x1E ? 4
                                       : 0;
  if (len == 0 || i + len > text.size()) return 0;
  c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char cont = static_cast<unsigned char>(text[i + k]);
    if ((cont >> 6) != 0x2) return 0;
    c = (c << 6) | (cont & 0x3F);
  }
  return len;
}

int windows1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (std::size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == c) return static_cast<int>(0x80 + k);
  }
  return -1;
}

}  // namespace

std::string windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else if (b < 0xA0) {
      appendUtf8(out, kHigh[b - 0x80]);
    } else {
      appendUtf8(out, b);
    }
  }
  return out;
}

std::string utf8ToWindows1252(std::string_view text, std::size_t* replaced) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t len = decodeUtf8(text, i, c);
    int byte = len == 0 ? -1 : windows1252Byte(c);
    if (byte < 0) {
      out += '?';
      if (replaced) ++*replaced;
    } else {
      out += static_cast<char>(byte);
    }
    i += len == 0 ? 1 : len;
  }
  return out;
}

std::string encodeForCodePage(std::string_view text, CodePage page, std::size_t* replaced) {
  if (page == CodePage::Utf8) return std::string(text);
  return utf8ToWindows1252(text, replaced);
}

std::size_t characterCount(std::string_view text) {
  std::size_t n = 0;
  for (char ch : text) {
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string truncateCharacters(std::string_view text, std::size_t maxCharacters) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (n == maxCharacters) return std::string(text.substr(0, i));
      ++n;
    }
  }
  return std::string(text);
}

}  // namespace agent
