#pragma once

// What changed on a bike from one visit to a later one: the faults that appeared, cleared or
// stayed, the trimmer, and each live channel's mean. Any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/records.h"

namespace kline::records {

// What changed from one visit to a later one.
struct Comparison {
  int64_t older = 0, newer = 0;
  // Fault lines of the last fault readout of each (a line that is no fault is left out).
  std::vector<std::string> appeared, cleared, stayed;
  bool faultsReadBoth = false;
  // The last trimmer value known in each (-1: none).
  int trimmerOlder = -1, trimmerNewer = -1;
  struct Channel {
    int index = 0;
    std::string name, unit;
    std::optional<double> older, newer;  // the means
  };
  std::vector<Channel> channels;
};
Comparison Compare(const Visit& older, const Visit& newer);

// A mean or other computed value as the lists show it: up to three decimals, no trailing zeros
// ("0.62", "13.875", "1122").
std::string NumberText(double v);

}  // namespace kline::records
