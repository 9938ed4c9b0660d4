#include "livedata/cyclemeter.h"

#include <cstdio>

namespace kline {

void CycleMeter::end(uint32_t ms, bool completed) {
  if (!completed) return;
  last_ = static_cast<int64_t>(ms - start_);
  ends_.push_back(ms);
  while (ends_.size() > 2 && ms - ends_.front() > kWindowMs) ends_.pop_front();
}

void CycleMeter::reset() {
  last_ = -1;
  ends_.clear();
}

double CycleMeter::perSecond() const {
  if (ends_.size() < 2) return 0;
  const uint32_t span = ends_.back() - ends_.front();
  return span ? (static_cast<double>(ends_.size() - 1) * 1000.0) / span : 0;
}

std::string CycleMeter::text() const {
  if (last_ < 0) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f cycles/s, last %lld ms", perSecond(),
                static_cast<long long>(last_));
  return buf;
}

}  // namespace kline
