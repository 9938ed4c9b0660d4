#include "serial/text.h"

namespace kline {

std::string Trim(const std::string& s) {
  static const char* const kBlanks = " \t\r\n";
  const auto b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

std::string EightBitText(const ByteString& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    if (b >= 0x80) {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string HexByte(uint8_t b) {
  return {kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
}

std::string ToHex(const ByteString& bytes, std::string_view between) {
  std::string out;
  out.reserve(bytes.size() * (2 + between.size()));
  for (unsigned char b : bytes) {
    if (!out.empty()) out += between;
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
  }
  return out;
}

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

namespace {

// The length of the UTF-8 character at `i`, or 0 when the bytes there are none (a stray
// continuation byte, a byte no character starts with, a character cut short, overlong or beyond
// U+10FFFF, or a surrogate).
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = at(i);
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size() || at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (std::size_t k = i + 2; k < i + n; ++k)
    if ((at(k) & 0xC0) != 0x80) return 0;
  return n;
}

bool IsShownControl(unsigned char b) {
  return (b < 0x20 && b != '\n') || b == 0x7F;
}

}  // namespace

std::string ValidUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : Utf8Length(s, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

std::string TerminalText(const std::string& text) {
  // Most texts have nothing to show differently: they pass as they are.
  bool plain = true;
  for (unsigned char b : text)
    if (IsShownControl(b) || (b >= 0x80 && b <= 0x9F) || b == 0xC2) plain = false;
  if (plain) return text;

  std::string out;
  out.reserve(text.size() + 8);
  auto escape = [&](unsigned char b) { out += "\\x" + HexByte(b); };
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (IsShownControl(b))
        escape(b);
      else
        out += text[i];
      ++i;
      continue;
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      if (b <= 0x9F)
        escape(b);
      else
        out += text[i];
      ++i;
    } else if (b == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      escape(static_cast<unsigned char>(text[i + 1]));  // U+0080 to U+009F
      i += 2;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace kline
