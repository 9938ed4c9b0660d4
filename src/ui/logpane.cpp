#include "ui/logpane.h"

namespace kline {

std::string LogPane::text() const {
  std::size_t n = 0;
  for (const auto& l : lines_) n += l.size() + 2;
  std::string out;
  out.reserve(n);
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

}  // namespace kline
