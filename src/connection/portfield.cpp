#include "connection/portfield.h"

#include <cctype>

#include "livedata/numbers.h"
#include "serial/text.h"

namespace kline {

namespace {

bool isDeviceName(const std::string& t) {
  if (t.empty()) return false;
  if (t[0] == '/' || t[0] == '\\') return true;
  std::string l = AsciiLower(t);
  if (l.size() > 3 && l.compare(0, 3, "com") == 0) {
    for (std::size_t i = 3; i < l.size(); ++i)
      if (!std::isdigit(static_cast<unsigned char>(l[i]))) return false;
    return true;
  }
  return (l.size() > 3 && l.compare(0, 3, "tty") == 0) ||
         (l.size() > 3 && l.compare(0, 3, "cu.") == 0);
}

}  // namespace

std::string PortField::text() const {
  return kind == Kind::Number ? std::to_string(number) : device;
}

PortField ParsePortField(const std::string& field) {
  PortField p;
  std::string t = Trim(field);
  if (AsciiLower(t) == "sim") {
    p.kind = PortField::Kind::Sim;
    p.device = t;
  } else if (isDeviceName(t)) {
    p.kind = PortField::Kind::Device;
    p.device = t;
  } else {
    int32_t n = WholeNumber(field);
    p.number = (n < -32768 || n > 32767) ? 0 : n;
  }
  return p;
}

}  // namespace kline
