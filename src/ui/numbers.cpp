#include "ui/numbers.h"

#include <cmath>
#include <limits>

namespace kline {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

double Val(const std::string& text) {
  // Blanks anywhere in the number are ignored, as the classic parse does ("1 2" is 12).
  std::string s;
  for (char c : text)
    if (!isBlank(c)) s += c;
  std::size_t i = 0;
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    uint64_t v = 0;
    std::size_t digits = 0;
    for (i = 2; i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])) && digits < 16;
         ++i, ++digits)
      v = v * 16 + static_cast<uint64_t>(std::stoi(std::string(1, s[i]), nullptr, 16));
    // Up to four digits give a 16-bit signed value, up to eight a 32-bit one, as the classic parse.
    if (digits <= 4) return static_cast<int16_t>(static_cast<uint16_t>(v));
    if (digits <= 8) return static_cast<int32_t>(static_cast<uint32_t>(v));
    return static_cast<double>(v);
  }
  std::string num;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) num += s[i++];
  bool any = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    num += s[i++];
    any = true;
  }
  if (i < s.size() && s[i] == '.') {
    num += s[i++];
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      num += s[i++];
      any = true;
    }
  }
  if (!any) return 0.0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::string exp = "e";
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp += s[j++];
    bool expDigits = false;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      exp += s[j++];
      expDigits = true;
    }
    if (expDigits) num += exp;
  }
  double v = std::strtod(num.c_str(), nullptr);
  if (!std::isfinite(v)) return 0.0;
  return v;
}

int64_t RoundHalfEven(double x) {
  if (!std::isfinite(x)) return 0;
  double r = std::round(x);
  if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
  if (r >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (r <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

int32_t WholeNumber(const std::string& text) {
  int64_t v = RoundHalfEven(Val(text));
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace kline
