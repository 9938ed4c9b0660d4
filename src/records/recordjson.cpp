#include "records/recordjson.h"

#include <nlohmann/json.hpp>

#include "livedata/csvrecorder.h"
#include "serial/text.h"
#include "session/eventjsonlines.h"

namespace kline::records {

namespace {

using nlohmann::json;

json JsonTime(WallTime t) {
  return t.msSinceEpoch ? json(CsvRecorder::IsoTime(t)) : json(nullptr);
}

json JsonText(const std::string& s) {
  return ValidUtf8(s);
}

// A text the window showed, trimmed as every JSON output carries it.
json ShownText(const std::string& s) {
  return ValidUtf8(JsonTrimmed(s));
}

// A change's value: the trimmer's byte, or the CO regulation as true/false; unknown is null.
json SettingValue(Setting setting, int v) {
  if (v < 0) return nullptr;
  if (setting == Setting::CoRegulation) return v != 0;
  return v;
}

}  // namespace

json ToJson(const Bike& b) {
  return {{"id", b.id},
          {"ecu", JsonText(EcuWord(b.key.ecu))},
          {"iso_code", JsonText(b.key.isoCode)},
          {"identification", JsonText(b.key.identification)},
          {"calibration", JsonText(b.key.calibration)},
          {"name", JsonText(b.details.name)},
          {"registration", JsonText(b.details.registration)},
          {"owner", JsonText(b.details.owner)},
          {"notes", JsonText(b.details.notes)},
          {"visits", b.visits},
          {"last_visit", b.lastVisit ? json(b.lastVisit) : json(nullptr)},
          {"last_start", b.lastVisit ? JsonTime(b.lastStart) : json(nullptr)},
          {"last_faults", b.lastFaults >= 0 ? json(b.lastFaults) : json(nullptr)}};
}

json ToJson(const Visit& v) {
  json readouts = json::array();
  for (const ReadoutRecord& rec : v.readouts) {
    const Readout& r = rec.readout;
    json lines = json::array();
    for (std::size_t i = 0; i < r.lines.size(); ++i)
      lines.push_back(
          {{"text", ShownText(r.lines[i])}, {"fault", i < r.fault.size() && r.fault[i]}});
    readouts.push_back({{"time", JsonTime(rec.at)},
                        {"kind", ReadoutKindName(r.kind)},
                        {"code", HexByte(r.code)},
                        {"bytes", ReadoutHexBytes(r)},
                        {"fault_stored", r.faultStored},
                        {"trusted", r.trusted},
                        {"lines", std::move(lines)}});
  }
  json tests = json::array();
  for (const TestRecord& t : v.tests)
    tests.push_back({{"time", JsonTime(t.at)},
                     {"window", JsonText(WindowWord(t.window))},
                     {"name", ShownText(t.name)},
                     {"code", HexByte(static_cast<uint8_t>(t.code))},
                     {"verdict", ev::VerdictName(t.verdict)},
                     {"text", ShownText(t.shown)}});
  json changes = json::array();
  for (const ChangeRecord& c : v.changes)
    changes.push_back({{"time", JsonTime(c.at)},
                       {"setting", SettingName(c.setting)},
                       {"before", SettingValue(c.setting, c.before)},
                       {"after", SettingValue(c.setting, c.after)}});
  json channels = json::array();
  for (const ChannelSummary& c : v.channels)
    channels.push_back({{"index", c.index},
                        {"name", JsonText(c.name)},
                        {"unit", JsonText(c.unit)},
                        {"count", c.count},
                        {"min", c.min},
                        {"max", c.max},
                        {"mean", c.mean},
                        {"min_text", ShownText(c.minText)},
                        {"max_text", ShownText(c.maxText)},
                        {"mean_text", ShownText(c.meanText)}});
  json files = json::array();
  for (const FileRecord& f : v.files)
    files.push_back(
        {{"time", JsonTime(f.at)}, {"kind", FileKindName(f.kind)}, {"path", JsonText(f.path)}});
  return {{"id", v.id},
          {"bike", v.bike},
          {"start", JsonTime(v.begun.start)},
          {"end", JsonTime(v.end)},
          {"port", JsonText(v.begun.port)},
          {"adapter", JsonText(v.begun.adapter)},
          {"ecu", JsonText(EcuWord(v.begun.ecu))},
          {"version", JsonText(v.begun.version)},
          {"identity_trusted", v.begun.identityTrusted},
          {"mileage", v.mileage ? json(*v.mileage) : json(nullptr)},
          {"iso_code", JsonText(v.key.isoCode)},
          {"identification", JsonText(v.key.identification)},
          {"calibration", JsonText(v.key.calibration)},
          {"readouts", std::move(readouts)},
          {"tests", std::move(tests)},
          {"changes", std::move(changes)},
          {"channels", std::move(channels)},
          {"files", std::move(files)}};
}

json ToJson(const VisitSummary& v) {
  return {{"id", v.id},
          {"start", JsonTime(v.start)},
          {"end", JsonTime(v.end)},
          {"port", JsonText(v.port)},
          {"ecu", JsonText(EcuWord(v.ecu))},
          {"mileage", v.mileage ? json(*v.mileage) : json(nullptr)},
          {"faults", v.faults >= 0 ? json(v.faults) : json(nullptr)},
          {"tests", v.tests}};
}

json ToJson(const Comparison& c) {
  auto texts = [](const std::vector<std::string>& v) {
    json a = json::array();
    for (const std::string& s : v) a.push_back(ShownText(s));
    return a;
  };
  json channels = json::array();
  for (const Comparison::Channel& ch : c.channels)
    channels.push_back({{"index", ch.index},
                        {"name", JsonText(ch.name)},
                        {"unit", JsonText(ch.unit)},
                        {"older_mean", ch.older ? json(*ch.older) : json(nullptr)},
                        {"newer_mean", ch.newer ? json(*ch.newer) : json(nullptr)}});
  return {{"older", c.older},
          {"newer", c.newer},
          {"faults_read_both", c.faultsReadBoth},
          {"appeared", texts(c.appeared)},
          {"cleared", texts(c.cleared)},
          {"stayed", texts(c.stayed)},
          {"trimmer_older", c.trimmerOlder >= 0 ? json(c.trimmerOlder) : json(nullptr)},
          {"trimmer_newer", c.trimmerNewer >= 0 ? json(c.trimmerNewer) : json(nullptr)},
          {"channels", std::move(channels)}};
}

}  // namespace kline::records
