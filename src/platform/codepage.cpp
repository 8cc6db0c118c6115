#include "platform/codepage.h"

namespace platform {

namespace {

// Code points of bytes 0x80..0x9F; the rest of cp1252 equals Latin-1.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

}  // namespace

char32_t cp1252ToCodePoint(uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
  return byte;
}

bool codePointToCp1252(char32_t cp, uint8_t& byte) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    byte = static_cast<uint8_t>(cp);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) {
      byte = static_cast<uint8_t>(0x80 + i);
      return true;
    }
  }
  return false;
}

uint8_t cp1252Upper(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<uint8_t>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (unsigned char c : text) appendUtf8(out, cp1252ToCodePoint(c));
  return out;
}

bool decodeUtf8(std::string_view text, size_t& pos, char32_t& cp) {
  if (pos >= text.size()) return false;
  const auto b0 = static_cast<unsigned char>(text[pos]);
  int len;
  char32_t value;
  if (b0 < 0x80) {
    cp = b0;
    ++pos;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    value = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    value = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    value = b0 & 0x07;
  } else {
    return false;
  }
  if (pos + len > text.size()) return false;
  for (int i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) return false;
    value = (value << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are malformed.
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kMin[len] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  cp = value;
  pos += len;
  return true;
}

bool isValidUtf8(std::string_view text) {
  size_t pos = 0;
  char32_t cp;
  while (pos < text.size()) {
    if (!decodeUtf8(text, pos, cp)) return false;
  }
  return true;
}

std::string utf8ToCp1252(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp;
    if (!decodeUtf8(text, pos, cp)) {
      out += text[pos];  // malformed: keep the byte as it is
      ++pos;
      continue;
    }
    uint8_t b;
    if (codePointToCp1252(cp, b)) {
      out += static_cast<char>(b);
    } else if (cp == 0x0107 || cp == 0x0106) {
      // Some keyboard layouts compose acute + c to c-acute; Portuguese means c-cedilla.
      out += static_cast<char>(cp == 0x0107 ? 0xE7 : 0xC7);
    } else if (replacement != 0) {
      out += replacement;
    }
  }
  return out;
}

TextEncoding detectTextEncoding(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) return TextEncoding::Utf8Bom;
  bool nonAscii = false;
  size_t pos = 0;
  char32_t cp;
  while (pos < bytes.size()) {
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    if (!decodeUtf8(bytes, pos, cp)) return TextEncoding::Cp1252;
    nonAscii = true;
  }
  return nonAscii ? TextEncoding::Utf8 : TextEncoding::Cp1252;
}

size_t textPreambleLength(std::string_view bytes, TextEncoding encoding) {
  return encoding == TextEncoding::Utf8Bom && bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom
             ? kUtf8Bom.size()
             : 0;
}

std::string decodeFileText(std::string_view bytes, TextEncoding encoding) {
  bytes.remove_prefix(textPreambleLength(bytes, encoding));
  if (encoding == TextEncoding::Cp1252) return std::string(bytes);
  return utf8ToCp1252(bytes);
}

std::string encodeFileText(std::string_view cp1252, TextEncoding encoding) {
  if (encoding == TextEncoding::Cp1252) return std::string(cp1252);
  return cp1252ToUtf8(cp1252);
}

}  // namespace platform
