#include "inputcheck.h"

#include <algorithm>
#include <cstdint>

#include "connection/portfield.h"
#include "scriptedaction.h"
#include "serial/text.h"

namespace kline {

namespace {

// Digits only, at most `max`; longer texts are not converted, so they cannot overflow.
bool digitsUpTo(const std::string& t, uint64_t max, uint64_t& value) {
  if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos) return false;
  std::string d = t.substr(std::min(t.find_first_not_of('0'), t.size() - 1));
  if (d.size() > 18) return false;
  value = std::stoull(d);
  return value <= max;
}

}  // namespace

std::string CheckPortArgument(const std::string& text) {
  // The window reads any text as a port number (0 when it is none); here a typo is refused.
  uint64_t n = 0;
  std::string t = Trim(text);
  if (!t.empty() &&
      (ParsePortField(t).kind != PortField::Kind::Number || (digitsUpTo(t, 32767, n) && n >= 1)))
    return {};
  return "--port '" + text +
         "' is not a port: a port is a number from 1 to 32767, a device such as /dev/ttyUSB0 or "
         "COM7, or sim";
}

std::string CheckDurationArgument(const std::string& text) {
  uint64_t n = 0;
  if (digitsUpTo(Trim(text), kMaxRunMs, n)) return {};
  return "'" + text + "' is not whole milliseconds from 0 to " + std::to_string(kMaxRunMs) +
         " (a week)";
}

std::string CheckWholeNumber(const std::string& text, uint64_t lo, uint64_t hi) {
  const std::string t = Trim(text);
  if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos)
    return "'" + text + "' is not a number";
  uint64_t n = 0;
  if (digitsUpTo(t, hi, n) && n >= lo) return {};
  return "'" + text + "' is not from " + std::to_string(lo) + " to " + std::to_string(hi);
}

}  // namespace kline
