#include "clirunner.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>

#include "globaloptions.h"
#include "helptext.h"
#include "livedata/channelstats.h"
#include "livedata/recording.h"
#include "subcommands.h"
#include "terminalstream.h"

namespace kline {

namespace {

const Example kExamples[] = {
    {"klinediag-cli --port sim --ecu 15m",
     "Connects to the built-in simulated ECU in real time and prints the log as it comes."},
    {"klinediag-cli --port sim --ecu 15m --virtual-time --duration 5000 --events -",
     "Five seconds of line time on virtual time, in a few milliseconds, as JSON Lines."},
    {"klinediag-cli --port /dev/ttyUSB0 --ecu 16m --duration 60000 --log session.log",
     "One minute with a real adapter, the log pane written to session.log."},
    {"klinediag-cli --port sim --virtual-time --duration 8000 --do 0:Check4=1 --do 6000:Command6",
     "Reads the calibration too, and the identification again at 6 s."},
    {"klinediag-cli --port sim --ecu 15m --csv live.csv --duration 5000",
     "Records the live values, one row per completed cycle, to live.csv."},
    {"klinediag-cli --replay live.csv",
     "Summarises a recording: per channel the rows with a value, min, max, mean, times."},
    {"klinediag-cli live --port sim --virtual-time --format csv | klinediag-cli --replay -",
     "The same from standard input."},
    {"klinediag-cli --port sim --virtual-time --duration 60000 --do 3000:test --do "
     "6000:Form1.Command1 --do 50000:Form1.back --report report.html",
     "Runs the fuel pump test from the Tests window and writes the session's report."},
    {"klinediag-cli live --port sim --count 20 --format csv",
     "A subcommand: the live values, one line per cycle. Each subcommand (ports, check-adapter, "
     "info, faults, live, test, records) has its own --help with its options and examples."},
    {"klinediag-cli records show --search KL15M",
     "The visits the session subcommands kept of a bike (see 'klinediag-cli records --help')."},
};

const char* const kNotes[] = {
    "Port: a number N (the N-th serial port, USB adapters first), a device (COM7, /dev/ttyUSB0) "
    "or \"sim\". ECU types: 15m, 15rc, 16m, p8, p8-sensor (the second P8, polled sensor by "
    "sensor).",
    "Actions (--do T:[WINDOW.]CONTROL[(INDEX)][=VALUE]) address controls by their design names: "
    "a button or menu is clicked (2500:Command6, 100:Diag), a check box set (0:Check3=0) or "
    "toggled (0:Check1(2)), an option selected (0:Option7), a field typed into (0:Text2=250).",
    "The options that several subcommands take (--port, --ecu, --settings, --virtual-time, "
    "--sim, --timeout, --json, --records, --no-records, --mileage) may come before the "
    "subcommand's name or after it; one that the subcommand does not take is refused.",
    "Events (--events, here and on info, faults, live and test): JSON Lines "
    "{\"t_ms\":MS,\"ev\":KIND,...} (MS since the session's start) for KIND log, set, tx, rx, "
    "baud, open, close, timer and, for what happened, {\"t_ms\":MS,\"ev\":\"event\","
    "\"event\":NAME,...its fields} for NAME link, connecting, ecu-identified, live-cycle, "
    "readout, test-started, test-ended, loop-paused... Every JSON output is described in "
    "docs/json.md and docs/json-schema.json.",
};

// The man page's sections that help2man cannot take from --help as they are (see helptext.h),
// for its --include.
std::string ManSections(const std::vector<std::unique_ptr<Command>>& subcommands) {
  return "[>DESCRIPTION]\n" + ManParagraphs(kNotes) + "[SUBCOMMANDS]\n" +
         ManSubcommands(subcommands) + "[=EXAMPLES]\n" + ManExamples(kExamples);
}

// --replay: one summary line per channel of a recording, then the skip line if any.
int Replay(const std::string& path, std::ostream& out, std::ostream& err) {
  // "-" is standard input.
  const Recording r = path == "-" ? ReadRecording(std::cin) : ReadRecording(path);
  if (!r.error.empty()) {
    err << "klinediag-cli: cannot replay " << path << ": " << r.error << "\n";
    return 2;
  }
  auto number = [](double v) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s.precision(6);
    s << v;
    return s.str();
  };
  ChannelStats stats(r.channels.size());
  for (std::size_t k = 0; k < r.channels.size(); ++k) {
    const RecordedChannel& c = r.channels[k];
    std::optional<uint32_t> first;
    uint32_t last = 0;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      if (std::isnan(c.values[i])) continue;
      stats.add(k, double{c.values[i]});
      if (!first) first = r.timesMs[i];
      last = r.timesMs[i];
    }
    const ChannelSummary s = stats.summary(k);
    out << c.name << (c.unit.empty() ? "" : " [" + c.unit + "]") << ": " << s.count << " of "
        << r.timesMs.size() << " rows";
    if (s.count > 0)
      out << ", min " << number(s.min) << ", max " << number(s.max) << ", mean " << number(s.mean)
          << ", " << *first << " ms to " << last << " ms";
    out << "\n";
  }
  if (std::string skips = r.skipLine(); !skips.empty()) out << skips << "\n";
  return 0;
}

// The command line parsed and run, on the streams as the terminal takes them.
int ParseAndRun(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CLI::App app{"klinediag-cli: the K-line ECU diagnostic window without pixels.", "klinediag-cli"};
  app.footer(HelpExamples(kExamples) + HelpParagraphs(kNotes));
  // What a subcommand does not know goes to the program: the shared options, which it refuses
  // when the subcommand does not take them (GlobalOptions::refused). One subcommand at a time.
  app.fallthrough();
  app.require_subcommand(0, 1);
  GlobalOptions global(app);
  ScriptedRun scripted(app, global);
  app.set_version_flag("--version", std::string("klinediag-cli ") + KLINE_VERSION);
  const std::vector<std::unique_ptr<Command>> subcommands = AddSubcommands(app, global);
  // For the build, which makes the man page (no group: not in the help).
  bool manSections = false;
  app.add_flag("--man-sections", manSections, "")->group("");

  std::vector<std::string> rev(args.rbegin(), args.rend());
  try {
    app.parse(rev);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    // Its words start lower-case after the program's name, as every message of ours ("The
    // following argument..." reads "the following argument..."); a capital word stays.
    std::string what = e.what();
    if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
        std::islower(static_cast<unsigned char>(what[1])))
      what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    err << "klinediag-cli: " << what << " (see --help)\n";
    return 2;
  }
  if (manSections) {
    out << ManSections(subcommands);
    return 0;
  }
  if (std::string why = global.refused(app); !why.empty()) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  }
  for (const auto& command : subcommands)
    if (command->chosen()) return command->run(out, err);
  if (scripted.replay()) return Replay(*scripted.replay(), out, err);
  return scripted.run(out, err);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& stdOut, std::ostream& stdErr) {
  // Whatever reaches the terminal shows its control characters; files keep their bytes.
  TerminalStream out(stdOut), err(stdErr);
  const int rc = ParseAndRun(args, out, err);
  // Output nobody could read (its reader went away: `| head -2`) ends as a shell tool's does.
  out.flush();
  return out ? rc : kClosedOutputExit;
}

}  // namespace kline
