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

std::string HexByte(uint8_t b) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[b >> 4], kDigits[b & 0x0F]};
}

}  // namespace kline
