// The records subcommands: the bikes in the records file and their visits, read, compared,
// named, forgotten, exported and backed up. What comes from the file is data: the text output
// goes through the terminal-safe stream, and JSON escapes it.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "livedata/conversions.h"
#include "records/recordstore.h"
#include "serial/filepath.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

using nlohmann::json;
using records::Bike;
using records::RecordStore;

const Example kRecordsExamples[] = {
    {"klinediag-cli records", "The bikes in the records, the most recently seen first."},
    {"klinediag-cli records --search smith",
     "The bikes whose name, registration, owner, notes or identification say smith."},
    {"klinediag-cli records show 3", "Bike 3's visits, the latest first."},
    {"klinediag-cli records visit 12",
     "Visit 12: the faults read, the tests run, the trimmer set, the live channels."},
    {"klinediag-cli records compare 12",
     "What changed from the bike's visit before 12: faults that appeared or cleared, the "
     "trimmer, the channel means."},
    {"klinediag-cli records name 3 \"Blue 900, AB-123-CD\"", "Names bike 3."},
    {"klinediag-cli records forget 3 --yes", "Removes bike 3 and all its visits."},
    {"klinediag-cli records export all.json", "Everything in the records as one JSON file."},
    {"klinediag-cli records backup copy.sqlite --records /srv/shop/records.sqlite",
     "A consistent copy of a shared records file, also while others write it."},
};
const Example kShowExamples[] = {
    {"klinediag-cli records show --search KL15M",
     "The visits of the one bike whose name, registration or identification says KL15M."},
    {"klinediag-cli records show 3 --json", "Bike 3 and its visits as JSON."},
};
const Example kVisitExamples[] = {
    {"klinediag-cli records visit 12 --json", "Visit 12 with everything kept of it, as JSON."},
};
const Example kCompareExamples[] = {
    {"klinediag-cli records compare 12", "Visit 12 beside the bike's visit before it."},
    {"klinediag-cli records compare 12 4", "Visit 12 beside visit 4."},
};
const Example kNameExamples[] = {
    {"klinediag-cli records name --search KL15M \"Red 600\"",
     "Names the one bike whose name, registration or identification says KL15M."},
};
const Example kMergeExamples[] = {
    {"klinediag-cli records merge 7 3",
     "Bike 7 is bike 3 (its ECU swapped, or a P8 kept once per type by an older version): its "
     "visits go to bike 3, and so do its ECU's next ones."},
};
const Example kForgetExamples[] = {
    {"klinediag-cli records forget 3 --yes",
     "Removes bike 3 and its visits, for a customer who asks: only with --yes."},
};
const Example kExportExamples[] = {
    {"klinediag-cli records export all.json", "Every bike and visit as one JSON file."},
};
const Example kBackupExamples[] = {
    {"klinediag-cli records backup records-2026-12-07.sqlite",
     "A consistent copy of the records file, made while others may write it."},
};

const char* kRecordsCodes =
    "Exit codes of records: 0 done; 1 the records file is missing or cannot be read or written; "
    "2 a bad command line, no such bike or visit, or forget without --yes.";
const char* kRecordsMore =
    "The records file is the user's ("
    "~/.local/share/klinediag/records.sqlite; "
    "%LOCALAPPDATA%\\klinediag\\records.sqlite on Windows) unless --records names another. "
    "BIKE is a bike's number, as the list shows it: a number only ever means that bike (show and "
    "name find one by its texts only with --search TEXT; forget takes a number only); N and M "
    "are visit numbers. Exit codes: 0 done; 1 the records file is missing or cannot be read or "
    "written; 2 a bad command line, no such bike or visit, or forget without --yes."
    " A visit is a bike's stay in the workshop: a connection on the same day as the bike's last "
    "visit, or within 4 hours of its end, goes on with that visit (--join-visits HOURS of info, "
    "faults, live and test, or JoinVisitsHours in the settings' [Records]; 0: each connection a "
    "visit of its own). The two P8 types read one ECU and find one bike.";

// The records subcommand and its own subcommands: the bikes, or one of show, visit, compare,
// name, merge, forget, export, backup.
class RecordsCommand : public Command {
 public:
  RecordsCommand(CLI::App& program, GlobalOptions& global);
  int run(std::ostream& out, std::ostream& err) override;

 private:
  enum class Kind { Bikes, Show, Visit, Compare, Name, Merge, Forget, Export, Backup };
  // Opens the records file as `kind` needs it and runs it.
  int runRecords(Kind kind, std::ostream& out, std::ostream& err);
  // The words that read the file: the bikes, show, visit, compare.
  int read(Kind kind, records::RecordStore& store, const std::string& path, std::ostream& out,
           std::ostream& err);
  // The words that change it or write another file: name, merge, forget, export, backup.
  int write(Kind kind, records::RecordStore& store, std::ostream& out, std::ostream& err);
  // The bike that show and name act on: by its number, or by --search when asked.
  std::optional<records::Bike> chosenBike(records::RecordStore& store, std::string& why) const;

  GlobalOptions& global_;
  // The words of the records subcommands.
  struct Options {
    std::string search, bike, text, file, into;
    int64_t visit = 0;
    std::optional<int64_t> other;
    bool yes = false;
  } o_;
  std::vector<std::pair<CLI::App*, Kind>> kinds_;
};

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

// The bikes as a table, one line each.
void printBikes(std::ostream& out, const std::vector<Bike>& bikes) {
  out << "   #  " << PadRight("NAME", 24) << "  ECU   VISITS  LAST VISIT        FAULTS\n";
  for (const Bike& b : bikes)
    out << PadLeft(std::to_string(b.id), 4) << "  " << PadRight(Trim(nameOf(b)), 24) << "  "
        << PadRight(b.key.ecu, 4) << "  " << PadLeft(std::to_string(b.visits), 6) << "  "
        << PadRight(when(b.lastStart), 16) << "  " << faultsText(b.lastFaults) << "\n";
}

// A bike's visits as a table, one line each.
void printVisits(std::ostream& out, const std::vector<records::VisitSummary>& visits) {
  out << "VISIT  START             END               PORT          ECU   MILEAGE  FAULTS  "
         "TESTS\n";
  for (const auto& v : visits)
    out << PadLeft(std::to_string(v.id), 5) << "  " << PadRight(when(v.start), 16) << "  "
        << PadRight(v.end.msSinceEpoch ? when(v.end) : "(not ended)", 16) << "  "
        << PadRight(v.port, 12) << "  " << PadRight(v.ecu, 4) << "  "
        << PadLeft(v.mileage ? std::to_string(*v.mileage) : "-", 7) << "  "
        << PadLeft(faultsText(v.faults), 6) << "  " << PadLeft(std::to_string(v.tests), 5) << "\n";
}

// Says why on stderr; returns the exit code `rc`.
int failWith(std::ostream& err, int rc, const std::string& why) {
  err << "klinediag-cli: " << why << "\n";
  return rc;
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
      out << "trimmer set from " << TrimmerSetText(c.before) << " to " << TrimmerSetText(c.after)
          << "\n";
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
  // A visit that set no trimmer says nothing of where it stood: only two settings make a move.
  const auto trim = TrimmerSetText;
  if (c.trimmerOlder < 0 && c.trimmerNewer < 0)
    out << "trimmer: not set in either\n";
  else if (c.trimmerOlder < 0 || c.trimmerNewer < 0)
    out << "trimmer: set to " << trim(std::max(c.trimmerOlder, c.trimmerNewer)) << " in visit "
        << (c.trimmerOlder < 0 ? c.newer : c.older) << " only\n";
  else if (c.trimmerOlder == c.trimmerNewer)
    out << "trimmer: set to " << trim(c.trimmerNewer) << " in both\n";
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

std::unique_ptr<Command> AddRecords(CLI::App& program, GlobalOptions& global) {
  return std::make_unique<RecordsCommand>(program, global);
}

RecordsCommand::RecordsCommand(CLI::App& program, GlobalOptions& global) : global_(global) {
  CLI::App& records = addSubcommand(program, "records",
                                    "The bikes in the records, or one of the records "
                                    "subcommands below",
                                    kRecordsExamples, kRecordsMore);
  records.require_subcommand(0, 1);
  kinds_.push_back({&records, Kind::Bikes});
  records.add_option("--search", o_.search,
                     "Only the bikes whose name, registration, owner, notes, identification "
                     "or calibration hold TEXT (any case)");
  struct Child {
    const char* name;
    const char* what;
    Kind kind;
    std::span<const Example> examples;
  };
  const Child children[] = {
      {"show", "A bike and its visits", Kind::Show, kShowExamples},
      {"visit", "One visit: readouts, tests, changes, live channels, files", Kind::Visit,
       kVisitExamples},
      {"compare", "What changed from one visit to another", Kind::Compare, kCompareExamples},
      {"name", "Name a bike", Kind::Name, kNameExamples},
      {"merge", "Merge a bike into another: the same bike", Kind::Merge, kMergeExamples},
      {"forget", "Remove a bike and its visits (with --yes)", Kind::Forget, kForgetExamples},
      {"export", "Write every bike and visit to a JSON file", Kind::Export, kExportExamples},
      {"backup", "Copy the records file consistently (also while others write it)", Kind::Backup,
       kBackupExamples},
  };
  for (const Child& c : children) {
    CLI::App& a = addSubcommand(records, c.name, c.what, c.examples, kRecordsCodes);
    kinds_.push_back({&a, c.kind});
    switch (c.kind) {
      case Kind::Show:
      case Kind::Name:
        // A number only ever means that bike; a search is asked for by its own option.
        a.add_option("bike", o_.bike, "The bike's number");
        a.add_option("--search", o_.search,
                     "Instead of a number: the one bike whose name, registration or "
                     "identification holds TEXT (any case)");
        break;
      case Kind::Forget:
        // Removing never acts on a search.
        a.add_option("bike", o_.bike, "The bike's number")->required();
        break;
      case Kind::Merge:
        a.add_option("bike", o_.bike, "The number of the bike that goes")->required();
        a.add_option("into", o_.into, "The number of the bike kept")->required();
        break;
      case Kind::Visit:
      case Kind::Compare:
        a.add_option("visit", o_.visit, "The visit's number")
            ->required()
            ->check(CLI::PositiveNumber);
        break;
      case Kind::Export:
      case Kind::Backup:
        a.add_option("file", o_.file, "The file to write")->required();
        break;
      case Kind::Bikes:
        break;
    }
    if (c.kind == Kind::Compare)
      a.add_option("other", o_.other, "The visit to compare with (default: the one before)")
          ->check(CLI::PositiveNumber);
    if (c.kind == Kind::Name) a.add_option("text", o_.text, "The name");
    if (c.kind == Kind::Forget)
      a.add_flag("--yes", o_.yes, "Remove it: without --yes nothing is removed");
  }
  for (auto& [a, kind] : kinds_) {
    global.add(*a, GlobalOptions::Name::Records, "The records file (default: the user's)");
    global.add(*a, GlobalOptions::Name::Json);
  }
}

int RecordsCommand::run(std::ostream& out, std::ostream& err) {
  // The deepest chosen: "records show" rather than "records".
  for (auto it = kinds_.rbegin(); it != kinds_.rend(); ++it)
    if (it->first->parsed()) return runRecords(it->second, out, err);
  return 0;
}

int RecordsCommand::runRecords(Kind kind, std::ostream& out, std::ostream& err) {
  if (kind == Kind::Name) {
    // With --search the one word left is the name.
    if (!o_.search.empty() && o_.text.empty()) std::swap(o_.bike, o_.text);
    if (o_.text.empty()) return failWith(err, 2, "name needs the bike and the name to give it");
  }
  const std::string path = global_.records ? *global_.records : records::DefaultRecordsPath();
  // Reading never makes a records file: a missing one is said as such.
  std::error_code ec;
  if (!std::filesystem::exists(PathFromUtf8(path), ec))
    return failWith(err, 1,
                    "no records file " + path +
                        " (the session subcommands make it as they keep their first visit)");
  const bool writes = kind == Kind::Name || kind == Kind::Merge || kind == Kind::Forget;
  std::string why;
  auto store = RecordStore::Open(
      path, writes ? RecordStore::Mode::ReadWrite : RecordStore::Mode::ReadOnly, why);
  if (!store) return failWith(err, 1, why);
  if (!store->notice().empty()) err << "klinediag-cli: " << store->notice() << "\n";
  if (writes && store->readOnly()) return failWith(err, 1, path + " can only be read");
  switch (kind) {
    case Kind::Bikes:
    case Kind::Show:
    case Kind::Visit:
    case Kind::Compare:
      return read(kind, *store, path, out, err);
    case Kind::Name:
    case Kind::Merge:
    case Kind::Forget:
    case Kind::Export:
    case Kind::Backup:
      return write(kind, *store, out, err);
  }
  return 0;
}

std::optional<Bike> RecordsCommand::chosenBike(RecordStore& store, std::string& why) const {
  if (!o_.search.empty() && !o_.bike.empty()) {
    why = "name the bike by its number or by --search, not both";
    return std::nullopt;
  }
  if (!o_.search.empty()) return store.searchBike(o_.search, why);
  if (o_.bike.empty()) {
    why = "name the bike: its number, or --search TEXT";
    return std::nullopt;
  }
  return store.bikeByNumber(o_.bike, why);
}

int RecordsCommand::read(Kind kind, RecordStore& store, const std::string& path, std::ostream& out,
                         std::ostream& err) {
  std::string why;
  auto findVisit = [&](int64_t id, std::optional<records::Visit>& v) {
    v = store.visit(id);
    if (!v) why = "no visit " + std::to_string(id) + " in " + path;
    return v.has_value();
  };
  switch (kind) {
    case Kind::Bikes: {
      const std::vector<Bike> bikes = store.bikes(o_.search);
      if (global_.json) {
        json a = json::array();
        for (const Bike& b : bikes) a.push_back(records::ToJson(b));
        out << a.dump(2) << "\n";
        return 0;
      }
      if (bikes.empty()) {
        out << (o_.search.empty() ? "no bike in the records\n" : "no bike matches\n");
        return 0;
      }
      printBikes(out, bikes);
      return 0;
    }
    case Kind::Show: {
      const std::optional<Bike> b = chosenBike(store, why);
      if (!b) return failWith(err, 2, why);
      const auto visits = store.visits(b->id);
      if (global_.json) {
        json a = json::array();
        for (const auto& v : visits) a.push_back(records::ToJson(v));
        out << json{{"bike", records::ToJson(*b)}, {"visits", a}}.dump(2) << "\n";
        return 0;
      }
      printBike(out, *b);
      printVisits(out, visits);
      return 0;
    }
    case Kind::Visit: {
      std::optional<records::Visit> v;
      if (!findVisit(o_.visit, v)) return failWith(err, 2, why);
      if (global_.json)
        out << records::ToJson(*v).dump(2) << "\n";
      else
        printVisit(out, *v);
      return 0;
    }
    case Kind::Compare: {
      std::optional<records::Visit> a, b;
      if (!findVisit(o_.visit, a)) return failWith(err, 2, why);
      const int64_t other = o_.other ? *o_.other : store.previousVisit(o_.visit);
      if (!other)
        return failWith(err, 2, "visit " + std::to_string(o_.visit) + " is its bike's first");
      if (!findVisit(other, b)) return failWith(err, 2, why);
      // The older first, whichever order they were named in.
      if (std::pair(b->begun.start.msSinceEpoch, b->id) >
          std::pair(a->begun.start.msSinceEpoch, a->id))
        std::swap(a, b);
      const records::Comparison c = records::Compare(*b, *a);
      if (global_.json)
        out << records::ToJson(c).dump(2) << "\n";
      else
        printComparison(out, c, *b, *a);
      return 0;
    }
    default:
      return 0;
  }
}

int RecordsCommand::write(Kind kind, RecordStore& store, std::ostream& out, std::ostream& err) {
  std::string why;
  switch (kind) {
    case Kind::Name: {
      const std::optional<Bike> b = chosenBike(store, why);
      if (!b) return failWith(err, 2, why);
      if (!store.rename(b->id, o_.text)) return failWith(err, 1, store.error());
      if (global_.json)
        out << json{{"bike", b->id}, {"name", o_.text}}.dump(2) << "\n";
      else
        out << "bike " << b->id << " named " << o_.text << "\n";
      return 0;
    }
    case Kind::Merge: {
      // Numbers only, as for forget: merging never acts on a search.
      const std::optional<Bike> from = store.bikeByNumber(o_.bike, why);
      if (!from) return failWith(err, 2, why);
      const std::optional<Bike> into = store.bikeByNumber(o_.into, why);
      if (!into) return failWith(err, 2, why);
      if (from->id == into->id) return failWith(err, 2, "a bike cannot be merged into itself");
      if (!store.merge(from->id, into->id)) return failWith(err, 1, store.error());
      if (global_.json)
        out << json{{"merged", from->id}, {"into", into->id}, {"visits", from->visits}}.dump(2)
            << "\n";
      else
        out << "bike " << from->id << " (" << Trim(nameOf(*from)) << ") merged into bike "
            << into->id << " (" << Trim(nameOf(*into)) << ") with its " << from->visits << " visit"
            << (from->visits == 1 ? "" : "s") << "\n";
      return 0;
    }
    case Kind::Forget: {
      const std::optional<Bike> b = store.bikeByNumber(o_.bike, why);
      if (!b) return failWith(err, 2, why);
      const std::string what = "bike " + std::to_string(b->id) + " (" + Trim(nameOf(*b)) +
                               ") and its " + std::to_string(b->visits) + " visit" +
                               (b->visits == 1 ? "" : "s");
      if (!o_.yes) return failWith(err, 2, "forget removes " + what + ": add --yes to remove them");
      if (!store.forget(b->id)) return failWith(err, 1, store.error());
      if (global_.json)
        out << json{{"forgotten", b->id}, {"visits", b->visits}}.dump(2) << "\n";
      else
        out << "removed " << what << "\n";
      return 0;
    }
    case Kind::Export: {
      const json all = store.exportJson();
      errno = 0;
      std::ofstream f(PathFromUtf8(o_.file), std::ios::binary);
      f << all.dump(2) << "\n";
      f.close();
      if (!f) {
        const int why = errno;
        return failWith(err, 1,
                        "cannot write " + o_.file +
                            (why ? std::string(": ") + std::strerror(why) : std::string()));
      }
      if (global_.json)
        out << json{{"file", o_.file}}.dump(2) << "\n";
      else
        out << "records exported to " << o_.file << "\n";
      return 0;
    }
    case Kind::Backup: {
      if (!store.backup(o_.file, why)) return failWith(err, 1, why);
      if (global_.json)
        out << json{{"file", o_.file}}.dump(2) << "\n";
      else
        out << "records copied to " << o_.file << "\n";
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace kline
