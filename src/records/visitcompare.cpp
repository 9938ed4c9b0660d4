#include "records/visitcompare.h"

#include <cstdio>
#include <map>
#include <set>

namespace kline::records {

namespace {

// The fault lines of a visit's last fault readout; none when it read no faults.
std::optional<std::vector<std::string>> LastFaultLines(const Visit& v) {
  for (auto r = v.readouts.rbegin(); r != v.readouts.rend(); ++r) {
    if (r->readout.kind != ReadoutKind::Faults) continue;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < r->readout.lines.size(); ++i)
      if (i < r->readout.fault.size() && r->readout.fault[i]) lines.push_back(r->readout.lines[i]);
    return lines;
  }
  return std::nullopt;
}

int LastTrimmer(const Visit& v) {
  for (auto c = v.changes.rbegin(); c != v.changes.rend(); ++c)
    if (c->setting == Setting::Trimmer) return c->after;
  return -1;
}

}  // namespace

Comparison Compare(const Visit& older, const Visit& newer) {
  Comparison c;
  c.older = older.id;
  c.newer = newer.id;
  const auto was = LastFaultLines(older);
  const auto is = LastFaultLines(newer);
  c.faultsReadBoth = was && is;
  if (c.faultsReadBoth) {
    const std::set<std::string> before(was->begin(), was->end()), now(is->begin(), is->end());
    for (const std::string& l : *is) (before.count(l) ? c.stayed : c.appeared).push_back(l);
    for (const std::string& l : *was)
      if (!now.count(l)) c.cleared.push_back(l);
  }
  c.trimmerOlder = LastTrimmer(older);
  c.trimmerNewer = LastTrimmer(newer);
  std::map<int, Comparison::Channel> channels;
  for (const ChannelSummary& s : older.channels) {
    Comparison::Channel& ch = channels[s.index];
    ch.index = s.index;
    ch.name = s.name;
    ch.unit = s.unit;
    if (s.count) ch.older = s.mean;
  }
  for (const ChannelSummary& s : newer.channels) {
    Comparison::Channel& ch = channels[s.index];
    ch.index = s.index;
    ch.name = s.name;
    ch.unit = s.unit;
    if (s.count) ch.newer = s.mean;
  }
  for (auto& [index, ch] : channels) c.channels.push_back(std::move(ch));
  return c;
}

std::string NumberText(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

}  // namespace kline::records
