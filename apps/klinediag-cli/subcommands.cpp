#include "subcommands.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "clisession.h"
#include "connection/portfield.h"
#include "diagnosis/faulttexts.h"
#include "diagnosis/faultwatch.h"
#include "inputcheck.h"
#include "platform/adaptercheck.h"
#include "platform/portlist.h"
#include "sim/virtualhost.h"

namespace kline {

namespace {

using nlohmann::json;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(' ');
  auto e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Columns a UTF-8 text takes in a terminal (one per character).
std::size_t columns(const std::string& s) {
  return static_cast<std::size_t>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string padLeft(const std::string& s, std::size_t width) {
  std::size_t n = columns(s);
  return n >= width ? s : std::string(width - n, ' ') + s;
}

std::string padRight(const std::string& s, std::size_t width) {
  std::size_t n = columns(s);
  return n >= width ? s : s + std::string(width - n, ' ');
}

std::string hexByte(uint8_t b) {
  const char* d = "0123456789ABCDEF";
  return {d[b >> 4], d[b & 15]};
}

// The main window's log lines, from a mark on.
class LogCapture : public EventSink {
 public:
  void onLog(const std::string& w, const std::string& line) override {
    if (w == "Form2") lines_.push_back(line);
  }
  void mark() { from_ = lines_.size(); }
  std::vector<std::string> sinceMark() const {
    return {lines_.begin() + static_cast<std::ptrdiff_t>(from_), lines_.end()};
  }

 private:
  std::vector<std::string> lines_;
  std::size_t from_ = 0;
};

// What came back after each request byte written, to read the status bytes the window decoded.
class ReplyTap : public EventSink {
 public:
  void onTx(const ByteString& b) override {
    for (char c : b) replies_.push_back({static_cast<uint8_t>(c), {}});
  }
  void onRx(const ByteString& b) override {
    if (!replies_.empty()) replies_.back().second += b;
  }
  void clear() { replies_.clear(); }
  // The status byte of the last answer to `code`, read as the window reads it: the byte after
  // the echo; 0 when the echo is wrong or missing.
  uint8_t status(uint8_t code) const {
    for (auto it = replies_.rbegin(); it != replies_.rend(); ++it)
      if (it->first == code)
        return it->second.size() >= 2 && static_cast<uint8_t>(it->second[0]) == code
                   ? static_cast<uint8_t>(it->second[1])
                   : 0;
    return 0;
  }

 private:
  std::vector<std::pair<uint8_t, ByteString>> replies_;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!l.empty()) out.push_back(l);
  }
  return out;
}

// The value after "label : " of the info pane's line that starts with `label`, if any.
std::optional<std::string> infoValue(const std::vector<std::string>& lines, const char* label) {
  for (const auto& l : lines)
    if (l.rfind(label, 0) == 0) {
      auto colon = l.find(':');
      return colon == std::string::npos ? std::string() : trim(l.substr(colon + 1));
    }
  return std::nullopt;
}

// The shown live channels: ticked Check1(i), with Text1(i) and its unit Label3(i).
struct Channel {
  int index;
  std::string name, unit;
};

std::vector<Channel> shownChannels(const ControlModel& m) {
  std::vector<Channel> out;
  for (int i = 0; i < 9; ++i)
    if (m.value(indexed("Check1", i)) == 1)
      out.push_back({i, m.caption(indexed("Check1", i)), m.caption(indexed("Label3", i))});
  return out;
}

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

const char* kCodes =
    "\nExit codes: 0 done, 1 the port did not open or was lost, or no answer, 2 bad command "
    "line,\n3 a fault is stored or the test said Erreur, 130 interrupted.\n";

}  // namespace

int FindTest(const std::vector<std::string>& items, const std::string& wanted, std::string& why) {
  std::string list;
  for (const auto& i : items) list += (list.empty() ? "" : ", ") + trim(i);
  const std::string w = lower(trim(wanted));
  std::vector<int> hits;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string item = lower(trim(items[i]));
    const std::string code = item.substr(0, item.find(' '));
    if (code == w) return static_cast<int>(i);
    if (!w.empty() && item.substr(code.size()).find(w) != std::string::npos)
      hits.push_back(static_cast<int>(i));
  }
  if (hits.size() == 1) return hits[0];
  why = (hits.empty() ? "no test '" + wanted + "'" : "'" + wanted + "' names several tests") +
        " (tests: " + list + ")";
  return -1;
}

Subcommands::Subcommands(CLI::App& app) {
  ports_ = app.add_subcommand("ports", "List the serial ports, likely K-line cables first");
  ports_->add_flag("--json", o_.json, "Print JSON");

  check_ = app.add_subcommand(
      "check-adapter",
      "Check the cable: write a pattern at 1200 and 7812 baud and read the echo (no ECU needed)");
  check_->add_option("--port", o_.port, "The adapter's port: a number, a device name or path")
      ->required();
  check_->add_flag("--json", o_.json, "Print JSON");
  check_->footer(
      "\nSends 5A A5 3C C3, bytes the window never sends to an ECU. Exit 0 when the echo is "
      "good\nat both rates, 1 otherwise.\n");

  info_ = app.add_subcommand("info", "Connect, read the identification and calibration, print");
  faults_ = app.add_subcommand("faults", "Connect, read the fault bytes and the immobiliser state");
  live_ = app.add_subcommand("live", "Connect and print the live values, one line per cycle");
  test_ = app.add_subcommand("test", "Connect and run one actuator test of the ECU type's list");
  for (CLI::App* s : {info_, faults_, live_, test_}) {
    s->add_option("--port", o_.port,
                  "Port field: a number from 1 to 32767, a device name or path, or sim");
    s->add_option("--ecu", o_.ecu, "ECU type: 15m, 15rc, 16m, p8 or p8-sensor")
        ->check(CLI::IsMember({"15m", "15rc", "16m", "p8", "p8-sensor"}, CLI::ignore_case));
    s->add_option("--settings", o_.settings, "Settings file to load and write");
    s->add_flag("--virtual-time", o_.virtualTime,
                "Run on virtual time (with --port sim): runs until the job is done");
    s->add_option("--sim", o_.simFile, "JSON description of the simulated ECU (at most 1 MiB)");
    s->add_option("--timeout", o_.limitMs,
                  "Give up after MS ms of line time without an answer (default 120000)")
        ->check(CLI::Range(uint64_t{1}, uint64_t{604800000}));
    s->add_flag("--json", o_.json, "Print JSON");
    s->footer(kCodes);
  }
  live_
      ->add_option("--count", o_.count, "Stop after N cycles (default: Ctrl+C; 10 on virtual time)")
      ->check(CLI::Range(uint64_t{1}, uint64_t{1000000000}));
  live_->add_option("--format", o_.format, "table, csv or json (JSON Lines; as --json)")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  test_->add_option("test", o_.test, "The test's code (80) or a unique part of its name (fuel)")
      ->required();
}

std::optional<int> Subcommands::run(std::ostream& out, std::ostream& err) {
  if (ports_->parsed()) return runPorts(out);
  if (check_->parsed()) return runCheckAdapter(out, err);
  if (info_->parsed()) return runSession(Kind::Info, out, err);
  if (faults_->parsed()) return runSession(Kind::Faults, out, err);
  if (live_->parsed()) return runSession(Kind::Live, out, err);
  if (test_->parsed()) return runSession(Kind::Test, out, err);
  return std::nullopt;
}

int Subcommands::runPorts(std::ostream& out) {
  const std::vector<PortRecord> ports = PortList::Available();
  if (o_.json) {
    json a = json::array();
    for (const auto& p : ports) {
      json j = {{"device", p.device},
                {"description", p.description},
                {"manufacturer", p.manufacturer},
                {"serial_number", p.serialNumber},
                {"usb_id", p.usbId()},
                {"likely_kline", p.likelyKLine},
                {"sim", p.sim}};
      j["number"] = p.number ? json(p.number) : json(nullptr);
      a.push_back(j);
    }
    out << a.dump(2) << "\n";
    return 0;
  }
  std::size_t width = 4;
  for (const auto& p : ports) width = std::max(width, columns(p.device));
  out << "   #  " << padRight("PORT", width) << "  USB ID     DESCRIPTION\n";
  bool marked = false;
  for (const auto& p : ports) {
    std::string about = p.description;
    for (const std::string& more :
         {p.manufacturer, p.serialNumber.empty() ? "" : "serial " + p.serialNumber})
      if (!more.empty()) about += (about.empty() ? "" : ", ") + more;
    marked = marked || p.likelyKLine;
    std::string line = std::string(p.likelyKLine ? "*" : " ") + " " +
                       padLeft(p.number ? std::to_string(p.number) : "", 2) + "  " +
                       padRight(p.device, width) + "  " + padRight(p.usbId(), 9) + "  " + about;
    out << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
  }
  if (marked) out << "* likely K-line cable (a USB-serial chip such cables are built on)\n";
  return 0;
}

int Subcommands::runCheckAdapter(std::ostream& out, std::ostream& err) {
  if (std::string why = CheckPortArgument(*o_.port); !why.empty()) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  }
  if (ParsePortField(*o_.port).kind == PortField::Kind::Sim) {
    err << "klinediag-cli: check-adapter needs a serial device; sim is the built-in simulated ECU "
           "(see --help)\n";
    return 2;
  }
  AdapterReport r = AdapterCheck().run(*o_.port);
  if (!r.opened()) {
    err << "klinediag-cli: cannot open port " << r.device << ": " << r.openError << "\n";
    return 1;
  }
  if (o_.json) {
    json rates = json::array();
    for (const auto& x : r.rates) {
      std::string got;
      for (char c : x.received) got += (got.empty() ? "" : " ") + hexByte(static_cast<uint8_t>(c));
      rates.push_back({{"baud", x.baud},
                       {"outcome", OutcomeName(x.outcome)},
                       {"received", got},
                       {"round_trip_ms", x.roundTripMs},
                       {"unasked_bytes", x.unasked}});
    }
    std::string sent;
    for (char c : AdapterCheck::Pattern())
      sent += (sent.empty() ? "" : " ") + hexByte(static_cast<uint8_t>(c));
    json j = {{"port", r.device}, {"sent", sent}, {"rates", rates}, {"ok", r.ok()}};
    j["low_latency"] = r.lowLatency ? json(*r.lowLatency) : json(nullptr);
    j["latency_timer_ms"] = r.latencyTimerMs ? json(*r.latencyTimerMs) : json(nullptr);
    out << j.dump(2) << "\n";
  } else {
    for (const auto& line : DescribeAdapterReport(r)) out << line << "\n";
  }
  return r.ok() ? 0 : 1;
}

int Subcommands::runSession(Kind kind, std::ostream& out, std::ostream& err) {
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  if (o_.port)
    if (std::string why = CheckPortArgument(*o_.port); !why.empty()) return usage(why);
  auto sim = std::make_shared<SimConfig>();
  if (std::string why = LoadSimConfig(o_.simFile, *sim); !why.empty()) return usage(why);
  const std::string format = o_.json ? "json" : o_.format;

  CliSession s({o_.port, o_.ecu, o_.settings, o_.virtualTime, sim}, err);
  LogCapture& logs = s.own(std::make_unique<LogCapture>());
  ReplyTap& tap = s.own(std::make_unique<ReplyTap>());
  s.build();
  Form2& form = s.form();
  if (std::string why = s.load(); !why.empty()) return usage(why);

  int testIndex = -1;
  if (kind == Kind::Test) {
    std::string why;
    testIndex = FindTest(form.ctl.get("List1").items, o_.test, why);
    if (testIndex < 0) return usage(why);
  }
  // The calibration is read with the identification.
  if (kind == Kind::Info) s.guarded([&] { form.ctl.userSetValue("Check4", 1); });
  if (!s.connect()) return 1;
  const std::string device = form.port()->deviceName();
  SignalScope onSignals(s.qhost());

  // The window has read its records and polls the live values.
  auto ready = [&] {
    return form.cal_ask == kTrue && form.ctl.enabled("Command11") &&
           s.link().state == LinkState::Live;
  };
  auto click = [&](const char* control) {
    logs.mark();
    form.ctl.userClick(control);
    return logs.sinceMark();
  };

  int rc = 0;
  std::function<bool()> step;
  std::vector<std::string> faultLines, immo1, immo2, testLines;
  uint8_t bytes[3] = {0, 0, 0};
  uint64_t cycles = 0;
  std::optional<uint64_t> count = o_.count;
  if (kind == Kind::Live && !count && s.virtualTime()) count = 10;
  std::vector<Channel> channels;
  std::vector<std::size_t> widths;

  switch (kind) {
    case Kind::Info:
      step = [&] { return form.cal_ask == kTrue; };
      break;
    case Kind::Faults:
      step = [&] {
        if (!ready()) return false;
        tap.clear();
        faultLines = click("Command11");
        const uint8_t codes[3] = {0x0F, 0x10, 0x11};
        for (int i = 0; i < 3; ++i) bytes[i] = tap.status(codes[i]);
        immo1 = click("Command2");
        immo2 = click("Command3");
        return true;
      };
      break;
    case Kind::Test:
      step = [&] {
        if (!ready()) return false;
        logs.mark();
        form.ctl.userSetValue("List1", testIndex);
        testLines = logs.sinceMark();
        return true;
      };
      break;
    case Kind::Live:
      form.onLiveCycle = [&](uint32_t ms, bool completed) {
        if (!completed || (count && cycles >= *count)) return;
        ++cycles;
        s.progress();
        if (channels.empty()) {
          channels = shownChannels(form.ctl);
          if (format == "table") {
            out << padLeft("ms", 8);
            for (const auto& c : channels) {
              std::string h = c.unit.empty() ? c.name : c.name + " " + c.unit;
              widths.push_back(std::max<std::size_t>(columns(h), 6));
              out << "  " << padLeft(h, widths.back());
            }
            out << "\n";
          } else if (format == "csv") {
            out << "ms";
            for (const auto& c : channels)
              out << "," << csvField(c.unit.empty() ? c.name : c.name + " (" + c.unit + ")");
            out << "\n";
          }
        }
        if (format == "table") {
          out << padLeft(std::to_string(ms), 8);
          for (std::size_t i = 0; i < channels.size(); ++i)
            out << "  " << padLeft(form.ctl.text(indexed("Text1", channels[i].index)), widths[i]);
        } else if (format == "csv") {
          out << ms;
          for (const auto& c : channels)
            out << "," << csvField(form.ctl.text(indexed("Text1", c.index)));
        } else {
          json j = {{"ms", ms}};
          json values = json::array();
          for (const auto& c : channels)
            values.push_back({{"name", c.name},
                              {"value", form.ctl.text(indexed("Text1", c.index))},
                              {"unit", c.unit}});
          j["channels"] = values;
          out << j.dump();
        }
        out << "\n";
        if (!s.virtualTime()) out.flush();
      };
      step = [&] { return count && cycles >= *count; };
      break;
  }

  CliSession::End end = s.runJob(step, o_.limitMs);
  form.onLiveCycle = nullptr;
  const LinkStatus link = s.link();
  const std::vector<std::string> info = splitLines(form.ctl.text("Text4"));
  const std::string verdict = form.ctl.caption("Label5");
  s.finish();

  switch (end) {
    case CliSession::End::Lost:
      return 1;
    case CliSession::End::Interrupted:
      if (kind == Kind::Live) return 0;
      err << "klinediag-cli: interrupted\n";
      return 130;
    case CliSession::End::NoAnswer:
      // The link's own words name the port and what to check, when it has heard nothing.
      if (link.state == LinkState::Live)
        err << "klinediag-cli: no answer from the ECU on " << device << " within "
            << o_.limitMs / 1000 << " s\n";
      else
        err << "klinediag-cli: " << link.text << "\n";
      return 1;
    case CliSession::End::Done:
      break;
  }

  switch (kind) {
    case Kind::Info: {
      auto iso = infoValue(info, "Iso Code");
      auto id = infoValue(info, "ecu data");
      auto cal = infoValue(info, "calibration");
      if (format == "json") {
        json j = {{"port", device}, {"lines", info}};
        j["iso_code"] = iso ? json(*iso) : json(nullptr);
        j["identification"] = id ? json(*id) : json(nullptr);
        j["calibration"] = cal ? json(*cal) : json(nullptr);
        out << j.dump(2) << "\n";
      } else {
        for (const auto& l : info) out << l << "\n";
      }
      if (!id || !cal) {
        err << "klinediag-cli: the " << (!id ? "identification" : "calibration") << " record from "
            << device << " is incomplete (the ECU stopped answering)\n";
        rc = 1;
      }
      break;
    }
    case Kind::Faults: {
      if (faultLines.size() != 13) {
        err << "klinediag-cli: no answer to the fault readout on " << device << "\n";
        return 1;
      }
      const bool set = FaultStored(bytes[0], bytes[1], bytes[2]);
      if (format == "json") {
        json j = {
            {"port", device},
            {"fault_bytes",
             {{"0F", hexByte(bytes[0])}, {"10", hexByte(bytes[1])}, {"11", hexByte(bytes[2])}}},
            {"faults", faultLines},
            {"fault_set", set},
            {"immobiliser", immo1},
            {"immobiliser2", immo2}};
        out << j.dump(2) << "\n";
      } else {
        for (const auto& l : faultLines) out << l << "\n";
        for (const auto& l : immo1) out << "immobiliser: " << l << "\n";
        if (immo1.empty()) out << "immobiliser: no state bit set\n";
        for (const auto& l : immo2) out << "immobiliser 2: " << l << "\n";
        if (immo2.empty()) out << "immobiliser 2: no state bit set\n";
        out << "fault bytes 0F=" << hexByte(bytes[0]) << " 10=" << hexByte(bytes[1])
            << " 11=" << hexByte(bytes[2]) << ": " << (set ? "a fault is stored" : "no fault")
            << "\n";
      }
      rc = set ? 3 : 0;
      break;
    }
    case Kind::Test: {
      const std::string name =
          trim(form.ctl.get("List1").items[static_cast<std::size_t>(testIndex)]);
      if (format == "json") {
        json j = {{"port", device}, {"test", name}, {"log", testLines}};
        j["verdict"] = verdict.empty() ? json(nullptr) : json(verdict);
        out << j.dump(2) << "\n";
      } else {
        for (const auto& l : testLines) out << l << "\n";
        out << "test " << name << ": " << (verdict.empty() ? "no verdict" : verdict) << "\n";
      }
      rc = verdict == "OK" ? 0 : verdict == "Erreur" ? 3 : 1;
      if (verdict.empty()) err << "klinediag-cli: no verdict from the ECU on " << device << "\n";
      break;
    }
    case Kind::Live:
      if (cycles == 0) {
        err << "klinediag-cli: no live cycle completed on " << device << "\n";
        rc = 1;
      }
      break;
  }
  return rc;
}

}  // namespace kline
