// The records subcommands: the bikes in the records file and their visits, read, compared,
// named, forgotten, exported and backed up. What comes from the file is data: the text output
// goes through the terminal-safe stream, and JSON escapes it.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "records/recordstore.h"
#include "serial/filepath.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

using nlohmann::json;
using records::Bike;
using records::RecordStore;

// "2026-03-14 16:20" in the time zone the time was taken in; "-" for none.
std::string when(WallTime t) {
  if (t.msSinceEpoch == 0) return "-";
  return records::WallTimeText(t, "%Y-%m-%d %H:%M");
}

std::string faultsText(int n) {
  return n < 0 ? "not read" : n == 0 ? "none" : std::to_string(n);
}

std::string nameOf(const Bike& b) {
  return b.details.name.empty() ? b.key.identification : b.details.name;
}

const char* kindName(ReadoutKind k) {
  switch (k) {
    case ReadoutKind::Faults:
      return "faults";
    case ReadoutKind::Immobiliser:
      return "immobiliser";
    case ReadoutKind::Immobiliser2:
      return "immobiliser 2";
    case ReadoutKind::Diag:
      return "diag";
  }
  return "";
}

void printBike(std::ostream& out, const Bike& b) {
  out << "bike " << b.id << ": " << nameOf(b) << "\n";
  const std::pair<const char*, const std::string*> facts[] = {
      {"ECU type", &b.key.ecu},
      {"iso code", &b.key.isoCode},
      {"identification", &b.key.identification},
      {"calibration", &b.key.calibration},
      {"registration", &b.details.registration},
      {"owner", &b.details.owner},
      {"notes", &b.details.notes}};
  for (const auto& [k, v] : facts)
    if (!v->empty()) out << "  " << PadRight(k, 15) << Trim(*v) << "\n";
}

void printVisit(std::ostream& out, const records::Visit& v) {
  out << "visit " << v.id << " of bike " << v.bike << ": " << when(v.begun.start) << " to "
      << (v.end.msSinceEpoch ? when(v.end) : "(not ended)") << "\n";
  out << "  port " << v.begun.port;
  if (!v.begun.adapter.empty()) out << " (" << v.begun.adapter << ")";
  out << ", ECU " << v.begun.ecu << ", klinediag " << v.begun.version;
  if (v.mileage) out << ", " << *v.mileage << " km";
  out << "\n  identification " << Trim(v.key.identification);
  if (!v.key.calibration.empty()) out << ", calibration " << Trim(v.key.calibration);
  if (!v.begun.identityTrusted) out << " (not trustworthy: read off a babbling line)";
  out << "\n";
  for (const records::ReadoutRecord& r : v.readouts) {
    out << "readout " << kindName(r.readout.kind) << " at " << when(r.at)
        << (r.readout.trusted ? "" : " (not trustworthy)") << ":\n";
    if (r.readout.lines.empty()) out << "  no state bit set\n";
    for (std::size_t i = 0; i < r.readout.lines.size(); ++i) {
      const bool f = i < r.readout.fault.size() && r.readout.fault[i];
      out << "  " << (f ? "FAULT " : "ok    ") << Trim(r.readout.lines[i]) << "\n";
    }
  }
  for (const records::TestRecord& t : v.tests)
    out << "test " << Trim(t.name) << " (" << (t.window == "Form1" ? "Tests" : "main window")
        << "): " << (t.shown.empty() ? std::string(ev::VerdictName(t.verdict)) : Trim(t.shown))
        << "\n";
  for (const records::ChangeRecord& c : v.changes) {
    if (c.setting == records::Setting::Trimmer)
      out << "trimmer set from " << (c.before < 0 ? "?" : std::to_string(c.before)) << " to "
          << c.after << "\n";
    else
      out << "CO regulation switched " << (c.after ? "on" : "off") << "\n";
  }
  if (!v.channels.empty()) {
    out << "live channels:\n";
    for (const records::ChannelSummary& c : v.channels)
      out << "  " << PadRight(c.name + (c.unit.empty() ? "" : " [" + c.unit + "]"), 26) << "min "
          << PadLeft(c.minText, 8) << "  max " << PadLeft(c.maxText, 8) << "  mean "
          << PadLeft(c.meanText, 8) << "  " << c.count << (c.count == 1 ? " cycle\n" : " cycles\n");
  }
  for (const records::FileRecord& f : v.files)
    out << records::FileKindName(f.kind) << " " << f.path << "\n";
}

void printComparison(std::ostream& out, const records::Comparison& c, const records::Visit& older,
                     const records::Visit& newer) {
  out << "visit " << c.older << " (" << when(older.begun.start) << ") to visit " << c.newer << " ("
      << when(newer.begun.start) << ")\n";
  auto readFaults = [](const records::Visit& v) {
    for (const records::ReadoutRecord& r : v.readouts)
      if (r.readout.kind == ReadoutKind::Faults) return true;
    return false;
  };
  if (!c.faultsReadBoth) {
    const bool o = readFaults(older), n = readFaults(newer);
    out << "faults: "
        << (o   ? "read in visit " + std::to_string(c.older) + " only"
            : n ? "read in visit " + std::to_string(c.newer) + " only"
                : std::string("read in neither visit"))
        << "\n";
  } else if (c.appeared.empty() && c.cleared.empty()) {
    out << "faults: no change" << (c.stayed.empty() ? " (none)" : "") << "\n";
  }
  if (c.faultsReadBoth) {
    for (const auto& l : c.appeared) out << "  appeared  " << Trim(l) << "\n";
    for (const auto& l : c.cleared) out << "  cleared   " << Trim(l) << "\n";
    for (const auto& l : c.stayed) out << "  still     " << Trim(l) << "\n";
  }
  auto trim = [](int v) { return v < 0 ? std::string("unknown") : std::to_string(v); };
  if (c.trimmerOlder == c.trimmerNewer)
    out << "trimmer: " << (c.trimmerNewer < 0 ? "not set in either" : "at " + trim(c.trimmerNewer))
        << "\n";
  else
    out << "trimmer: moved from " << trim(c.trimmerOlder) << " to " << trim(c.trimmerNewer) << "\n";
  if (!c.channels.empty()) {
    out << PadRight("channel means:", 28) << PadLeft("visit " + std::to_string(c.older), 10)
        << PadLeft("visit " + std::to_string(c.newer), 12) << "\n";
    for (const auto& ch : c.channels)
      out << "  " << PadRight(ch.name + (ch.unit.empty() ? "" : " [" + ch.unit + "]"), 26)
          << PadLeft(ch.older ? records::NumberText(*ch.older) : "-", 10)
          << PadLeft(ch.newer ? records::NumberText(*ch.newer) : "-", 12) << "\n";
  }
}

}  // namespace

int Subcommands::runRecords(RecordsKind kind, std::ostream& out, std::ostream& err) {
  const std::string path = o_.records ? *o_.records : records::DefaultRecordsPath();
  auto fail = [&](int rc, const std::string& why) {
    err << "klinediag-cli: " << why << "\n";
    return rc;
  };
  // Reading never makes a records file: a missing one is said as such.
  std::error_code ec;
  if (!std::filesystem::exists(PathFromUtf8(path), ec))
    return fail(1, "no records file " + path +
                       " (the session subcommands make it as they keep their first visit)");
  const bool writes = kind == RecordsKind::Name || kind == RecordsKind::Forget;
  std::string why;
  auto store = RecordStore::Open(
      path, writes ? RecordStore::Mode::ReadWrite : RecordStore::Mode::ReadOnly, why);
  if (!store) return fail(1, why);
  if (!store->notice().empty()) err << "klinediag-cli: " << store->notice() << "\n";
  if (writes && store->readOnly()) return fail(1, path + " can only be read");

  auto findBike = [&](std::optional<Bike>& b) {
    b = store->findBike(o_.bike, why);
    return b.has_value();
  };
  auto findVisit = [&](int64_t id, std::optional<records::Visit>& v) {
    v = store->visit(id);
    if (!v) why = "no visit " + std::to_string(id) + " in " + path;
    return v.has_value();
  };

  switch (kind) {
    case RecordsKind::Bikes: {
      const std::vector<Bike> bikes = store->bikes(o_.search);
      if (o_.json) {
        json a = json::array();
        for (const Bike& b : bikes) a.push_back(records::ToJson(b));
        out << a.dump(2) << "\n";
        return 0;
      }
      if (bikes.empty()) {
        out << (o_.search.empty() ? "no bike in the records\n" : "no bike matches\n");
        return 0;
      }
      out << "   #  " << PadRight("NAME", 24) << "  ECU   VISITS  LAST VISIT        FAULTS\n";
      for (const Bike& b : bikes)
        out << PadLeft(std::to_string(b.id), 4) << "  " << PadRight(Trim(nameOf(b)), 24) << "  "
            << PadRight(b.key.ecu, 4) << "  " << PadLeft(std::to_string(b.visits), 6) << "  "
            << PadRight(when(b.lastStart), 16) << "  " << faultsText(b.lastFaults) << "\n";
      return 0;
    }
    case RecordsKind::Show: {
      std::optional<Bike> b;
      if (!findBike(b)) return fail(2, why);
      const auto visits = store->visits(b->id);
      if (o_.json) {
        json a = json::array();
        for (const auto& v : visits) a.push_back(records::ToJson(v));
        out << json{{"bike", records::ToJson(*b)}, {"visits", a}}.dump(2) << "\n";
        return 0;
      }
      printBike(out, *b);
      out << "VISIT  START             END               PORT          ECU   MILEAGE  FAULTS  "
             "TESTS\n";
      for (const auto& v : visits)
        out << PadLeft(std::to_string(v.id), 5) << "  " << PadRight(when(v.start), 16) << "  "
            << PadRight(v.end.msSinceEpoch ? when(v.end) : "(not ended)", 16) << "  "
            << PadRight(v.port, 12) << "  " << PadRight(v.ecu, 4) << "  "
            << PadLeft(v.mileage ? std::to_string(*v.mileage) : "-", 7) << "  "
            << PadLeft(faultsText(v.faults), 6) << "  " << PadLeft(std::to_string(v.tests), 5)
            << "\n";
      return 0;
    }
    case RecordsKind::Visit: {
      std::optional<records::Visit> v;
      if (!findVisit(o_.visit, v)) return fail(2, why);
      if (o_.json)
        out << records::ToJson(*v).dump(2) << "\n";
      else
        printVisit(out, *v);
      return 0;
    }
    case RecordsKind::Compare: {
      std::optional<records::Visit> a, b;
      if (!findVisit(o_.visit, a)) return fail(2, why);
      const int64_t other = o_.other ? *o_.other : store->previousVisit(o_.visit);
      if (!other) return fail(2, "visit " + std::to_string(o_.visit) + " is its bike's first");
      if (!findVisit(other, b)) return fail(2, why);
      // The older first, whichever order they were named in.
      if (std::pair(b->begun.start.msSinceEpoch, b->id) >
          std::pair(a->begun.start.msSinceEpoch, a->id))
        std::swap(a, b);
      const records::Comparison c = records::Compare(*b, *a);
      if (o_.json)
        out << records::ToJson(c).dump(2) << "\n";
      else
        printComparison(out, c, *b, *a);
      return 0;
    }
    case RecordsKind::Name: {
      std::optional<Bike> b;
      if (!findBike(b)) return fail(2, why);
      if (!store->rename(b->id, o_.text)) return fail(1, store->error());
      if (o_.json)
        out << json{{"bike", b->id}, {"name", o_.text}}.dump(2) << "\n";
      else
        out << "bike " << b->id << " named " << o_.text << "\n";
      return 0;
    }
    case RecordsKind::Forget: {
      std::optional<Bike> b;
      if (!findBike(b)) return fail(2, why);
      const std::string what = "bike " + std::to_string(b->id) + " (" + Trim(nameOf(*b)) +
                               ") and its " + std::to_string(b->visits) + " visit" +
                               (b->visits == 1 ? "" : "s");
      if (!o_.yes) return fail(2, "forget removes " + what + ": add --yes to remove them");
      if (!store->forget(b->id)) return fail(1, store->error());
      if (o_.json)
        out << json{{"forgotten", b->id}, {"visits", b->visits}}.dump(2) << "\n";
      else
        out << "removed " << what << "\n";
      return 0;
    }
    case RecordsKind::Export: {
      const json all = store->exportJson();
      std::ofstream f(PathFromUtf8(o_.file), std::ios::binary);
      f << all.dump(2) << "\n";
      f.close();
      if (!f) return fail(1, "cannot write " + o_.file);
      if (o_.json)
        out << json{{"file", o_.file}}.dump(2) << "\n";
      else
        out << "records exported to " << o_.file << "\n";
      return 0;
    }
    case RecordsKind::Backup: {
      if (!store->backup(o_.file, why)) return fail(1, why);
      if (o_.json)
        out << json{{"file", o_.file}}.dump(2) << "\n";
      else
        out << "records copied to " << o_.file << "\n";
      return 0;
    }
  }
  return 0;
}

}  // namespace kline
