#include "livedata/utcoffset.h"

namespace kline {

int UtcOffsetMinutes(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

}  // namespace kline
