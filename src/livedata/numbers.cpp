#include "livedata/numbers.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace kline {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

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

namespace {

std::atomic<char> gSeparator{'.'};

// The decimal digits of |x| rounded half away from zero to `decimals` places, as integer and
// fraction digit strings. Rounding works on the 15-significant-digit text of the value, so
// 0.125 rounds to 0.13 as a person expects, not as its binary neighbour would.
void roundDecimal(double x, int decimals, std::string& intPart, std::string& fracPart) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15e", std::fabs(x));
  // buf: d.ddddddddddddddde[+-]XX
  std::string mant;
  mant += buf[0];
  for (int i = 2; i < 17; ++i) mant += buf[i];
  int exp = std::atoi(buf + 18);
  // The value is 0.mant * 10^(exp+1); the digits before the point are the first exp+1 ones.
  int pointAt = exp + 1;
  std::string digits = mant;
  if (pointAt < 0) {
    digits = std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
    pointAt = 0;
  }
  if (static_cast<int>(digits.size()) < pointAt + decimals + 1)
    digits += std::string(static_cast<std::size_t>(pointAt + decimals + 1) - digits.size(), '0');
  std::string kept = digits.substr(0, static_cast<std::size_t>(pointAt + decimals));
  bool up = digits[static_cast<std::size_t>(pointAt + decimals)] >= '5';
  if (up) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9')
      kept[static_cast<std::size_t>(i--)] = '0';
    if (i >= 0)
      kept[static_cast<std::size_t>(i)]++;
    else {
      kept.insert(kept.begin(), '1');
      ++pointAt;
    }
  }
  intPart = kept.substr(0, static_cast<std::size_t>(pointAt));
  fracPart = kept.substr(static_cast<std::size_t>(pointAt));
  std::size_t nz = intPart.find_first_not_of('0');
  intPart = nz == std::string::npos ? "" : intPart.substr(nz);
}

}  // namespace

void SetDecimalSeparator(char sep) {
  gSeparator = sep;
}
char DecimalSeparator() {
  return gSeparator;
}

std::optional<double> FieldValue(const std::string& text) {
  const std::size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  const std::size_t e = text.find_last_not_of(" \t") + 1;
  const char sep = DecimalSeparator();
  std::string plain;
  bool digits = false, point = false;
  for (std::size_t i = b; i < e; ++i) {
    const char c = text[i];
    if ((c == '-' || c == '+') && i == b) {
      plain += c;
    } else if (c >= '0' && c <= '9') {
      plain += c;
      digits = true;
    } else if ((c == sep || c == '.') && !point) {
      plain += '.';
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return point ? std::optional<double>(0.0) : std::nullopt;
  return std::strtod(plain.c_str(), nullptr);
}

std::string PlainForm(double x) {
  if (!std::isfinite(x)) return "0";
  if (x == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", x);
  std::string s = buf;
  if (s.find('e') != std::string::npos) {
    // Only for values far outside the channels' ranges: write them out in full.
    std::snprintf(buf, sizeof buf, "%.15f", x);
    s = buf;
    if (s.find('.') != std::string::npos) {
      while (s.back() == '0') s.pop_back();
      if (s.back() == '.') s.pop_back();
    }
  }
  for (auto& c : s)
    if (c == '.') c = gSeparator;
  return s;
}

std::string FormatNumber(double x, const std::string& pattern) {
  if (!std::isfinite(x)) x = 0;
  std::size_t dot = pattern.find('.');
  if (dot == std::string::npos) throw std::invalid_argument("format pattern without a point");
  std::string intPat = pattern.substr(0, dot), fracPat = pattern.substr(dot + 1);
  int decimals = static_cast<int>(fracPat.size());
  int forcedDecimals = static_cast<int>(fracPat.find_first_not_of('0'));
  if (forcedDecimals < 0) forcedDecimals = decimals;
  bool forcedInt = intPat.find('0') != std::string::npos;

  std::string ip, fp;
  roundDecimal(x, decimals, ip, fp);
  while (static_cast<int>(fp.size()) > forcedDecimals && !fp.empty() && fp.back() == '0')
    fp.pop_back();
  bool zero = ip.empty() && fp.find_first_not_of('0') == std::string::npos;
  if (ip.empty() && forcedInt) ip = "0";
  std::string out = (x < 0 && !zero) ? "-" : "";
  out += ip;
  out += gSeparator;
  out += fp;
  return out;
}

}  // namespace kline
