#include "records/recordjson.h"

#include <nlohmann/json.hpp>

#include "livedata/csvrecorder.h"
#include "serial/text.h"

namespace kline::records {

namespace {

using nlohmann::json;

json JsonTime(WallTime t) {
  return t.msSinceEpoch ? json(CsvRecorder::IsoTime(t)) : json(nullptr);
}

json JsonText(const std::string& s) {
  return ValidUtf8(s);
}

}  // namespace

json ToJson(const Bike& b) {
  return {{"id", b.id},
          {"ecu", JsonText(b.key.ecu)},
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
          {{"text", JsonText(r.lines[i])}, {"fault", i < r.fault.size() && r.fault[i]}});
    readouts.push_back({{"at", JsonTime(rec.at)},
                        {"kind", ReadoutKindName(r.kind)},
                        {"bytes", {r.bytes[0], r.bytes[1], r.bytes[2]}},
                        {"code", r.code},
                        {"fault_stored", r.faultStored},
                        {"trusted", r.trusted},
                        {"lines", std::move(lines)}});
  }
  json tests = json::array();
  for (const TestRecord& t : v.tests)
    tests.push_back({{"at", JsonTime(t.at)},
                     {"window", JsonText(t.window)},
                     {"name", JsonText(t.name)},
                     {"code", t.code},
                     {"verdict", ev::VerdictName(t.verdict)},
                     {"shown", JsonText(t.shown)}});
  json changes = json::array();
  for (const ChangeRecord& c : v.changes)
    changes.push_back({{"at", JsonTime(c.at)},
                       {"setting", SettingName(c.setting)},
                       {"before", c.before >= 0 ? json(c.before) : json(nullptr)},
                       {"after", c.after}});
  json channels = json::array();
  for (const ChannelSummary& c : v.channels)
    channels.push_back({{"index", c.index},
                        {"name", JsonText(c.name)},
                        {"unit", JsonText(c.unit)},
                        {"count", c.count},
                        {"min", c.min},
                        {"max", c.max},
                        {"mean", c.mean},
                        {"min_text", JsonText(c.minText)},
                        {"max_text", JsonText(c.maxText)},
                        {"mean_text", JsonText(c.meanText)}});
  json files = json::array();
  for (const FileRecord& f : v.files)
    files.push_back(
        {{"at", JsonTime(f.at)}, {"kind", FileKindName(f.kind)}, {"path", JsonText(f.path)}});
  return {{"id", v.id},
          {"bike", v.bike},
          {"start", JsonTime(v.begun.start)},
          {"end", JsonTime(v.end)},
          {"port", JsonText(v.begun.port)},
          {"adapter", JsonText(v.begun.adapter)},
          {"ecu", JsonText(v.begun.ecu)},
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
          {"ecu", JsonText(v.ecu)},
          {"mileage", v.mileage ? json(*v.mileage) : json(nullptr)},
          {"faults", v.faults >= 0 ? json(v.faults) : json(nullptr)},
          {"tests", v.tests}};
}

json ToJson(const Comparison& c) {
  auto texts = [](const std::vector<std::string>& v) {
    json a = json::array();
    for (const std::string& s : v) a.push_back(JsonText(s));
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
