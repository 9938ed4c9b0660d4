// A whole session of the main window on virtual time against a port whose every answer comes
// from the input: the ECU type, a script of user actions across the three windows, then the line.
//
// Input: byte 0 picks the ECU type option; byte 1 holds flags (bit 0: the 32-bit clock is about
// to wrap; bit 1: the port does not open; bit 2: 7812 baud is refused; bit 3: the adapter goes
// away, after the next byte times 500 ms; bit 4: "Ecu data" cleared and bit 5: "Calibration"
// ticked before connecting; bit 6: no connect at start). Then a count of actions and four bytes
// per action (delay after the previous one in 50 ms steps, kind, two parameters). The rest is the
// line, read by FuzzPort (fuzzport.h).
//
// Checked: no crash or sanitizer report; no handler (a tick or a user action, without the
// actions run inside it) keeps the session longer than kHandlerBoundMs of virtual time; every
// log line is one the system writes (loglines.cpp).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include "actuators/form1.h"
#include "boundedhost.h"
#include "connection/form2.h"
#include "diagnosis/form3.h"
#include "fuzzport.h"
#include "loglines.h"
#include "session/sessioncore.h"

namespace {

using namespace kline;
using namespace kline::fuzz;

// The longest handler the code's limits allow, with the timing fields at the largest values the
// window takes (pause and inter-byte delay 1000 ms, timeout 10000 ms):
//   a tick: the pause (1 s), the handshake (3 s wait, 100 + 518 + 330 ms), the identification
//   (10 exchanges of at most 8 + 3000 + 4 ms) and the calibration (8 of them), then a live cycle,
//   the longest being the per-sensor one (9 pauses of 1 s and 11 waits of 10 s): about 176 s;
//   the test list: 2 s + 50 ms + 5 s, then a verdict of at most 40 s;
//   the test window: opening 6.1 s and leaving 3 s; a test 5 s and a verdict of 36 s.
constexpr uint64_t kHandlerBoundMs = 200000;
// The line time one input runs for.
constexpr uint64_t kSessionMs = 120000;
constexpr uint64_t kSliceMs = 5000;
// Longer than the longest time limit of a wait (the per-sensor timeout, 10 s).
constexpr uint64_t kQuietMs = 15000;
constexpr int kMaxActions = 24;

// The timing fields as the window takes them: name and largest value.
struct Field {
  const char* name;
  int min, max;
};
constexpr Field kFields[4] = {{"Text2", 1, 32767},
                              {"Text5", 0, 1000},
                              {"Text11", 0, 1000},
                              // The per-sensor timeout stays within what the window takes: a
                              // huge one makes a wait that never ends (being fixed separately).
                              {"Text7", 0, 10000}};

const char* kOptions[5] = {"Option1", "Option9", "Option7", "Option2", "Option8"};
const char* kAllOptions[9] = {"Option1", "Option9", "Option7", "Option2", "Option8",
                              "Option3", "Option4", "Option6", "Option5"};
const char* kForm3Buttons[11] = {"Command1", "Command2",  "Command3", "Command4",
                                 "Command5", "Command6",  "Command7", "Command8",
                                 "Command9", "Command10", "back"};
const char* kForm1Buttons[13] = {"Command1", "Command2", "Command3", "Command4", "Command5",
                                 "Command6", "Command7", "Command8", "Command9", "Command10",
                                 "Option1",  "Option2",  "back"};
const char* kCustomCodes[8] = {"00", "80", "8d", " FF ", "8", "x", "", "123"};
const char* kTrimmerTexts[4] = {"abc", "", " 12 ", "255"};
const char* kOtherButtons[5] = {"Command1", "Command4", "Command5", "Command9", "Command10"};

std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

class LogChecker : public EventSink {
 public:
  void onLog(const std::string& win, const std::string& line) override {
    // KLINE_FUZZ_VERBOSE=1 prints the session's log, to see what an input reaches.
    static const bool verbose = std::getenv("KLINE_FUZZ_VERBOSE") != nullptr;
    if (verbose) std::fprintf(stderr, "%s: %s\n", win.c_str(), Printable(line).c_str());
    if (KnownLogLine(win, line)) return;
    std::fprintf(stderr, "unknown log line in %s: \"%s\"\n", win.c_str(), Printable(line).c_str());
    __builtin_trap();
  }
};

// A settings path whose folder does not exist: every run starts from no settings and writes none.
const std::string& SettingsPath() {
  static const std::string path = [] {
    auto dir =
        std::filesystem::temp_directory_path() / ("klinediag-fuzz-" + std::to_string(::getpid()));
    return (dir / "absent" / "klinediag.ini").string();
  }();
  return path;
}

void Play(Form2& form, uint8_t kind, uint8_t p1, uint8_t p2) {
  ControlModel& main = form.ctl;
  ControlModel& test = form.form1().ctl;
  ControlModel& diag = form.form3().ctl;
  switch (kind % 17) {
    case 0:
      main.userClick("Check2");
      break;
    case 1:
      main.userClick("Command6");
      break;
    case 2:
      main.userClick("Command7");
      break;
    case 3:
      main.userClick("Command11");
      break;
    case 4:
      main.userClick("Command2");
      break;
    case 5:
      main.userClick("Command3");
      break;
    case 6:
      main.userSetValue("List1", p1 % 9 - 1);
      break;
    case 7:
      main.userClick("Diag");
      break;
    case 8:
      diag.userClick(kForm3Buttons[p1 % 11]);
      break;
    case 9:
      main.userClick("test");
      break;
    case 10:
      test.userClick(kForm1Buttons[p1 % 13]);
      break;
    case 11:
      if (p1 % 3 == 0)
        test.userSetValue("Slider1", p2 % 255 - 127);
      else if (p1 % 3 == 1)
        test.userSetText("Text1", kCustomCodes[p2 % 8]);
      else
        test.userSetText("Text2", p2 & 1 ? std::to_string(p2) : kTrimmerTexts[(p2 >> 1) % 4]);
      break;
    case 12:
      main.userClick(indexed("Check1", p1 % 9));
      break;
    case 13:
      main.userClick(kAllOptions[p1 % 9]);
      break;
    case 14:
      main.userClick(p1 & 1 ? "Check4" : "Check3");
      break;
    case 15: {
      const Field& f = kFields[p1 % 4];
      int raw = (p1 >> 2) << 8 | p2;
      main.userSetText(f.name, std::to_string(f.min + raw % (f.max - f.min + 1)));
      break;
    }
    default:
      main.userClick(kOtherButtons[p1 % 5]);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  InputStream in(data, size);
  const char* option = kOptions[in.byte() % 5];
  uint8_t flags = in.byte();
  FuzzPortOptions portOptions;
  portOptions.opens = !(flags & 0x02);
  portOptions.baudRefused = flags & 0x04;
  if (flags & 0x08) portOptions.lostAfterMs = static_cast<int64_t>(in.byte()) * 500;

  BoundedHost host(flags & 0x01 ? 0xFFFFFFFFu - 30000 : 0, kHandlerBoundMs);
  LogChecker checker;
  SessionOptions o;
  o.settingsPath = SettingsPath();
  o.devices = [&](const std::string&) -> std::unique_ptr<SerialPort> {
    return std::make_unique<FuzzPort>(in, portOptions, [&host] { return host.now(); });
  };
  auto session = std::make_unique<SessionCore>(host, std::move(o));
  session->observe(&checker);
  Form2* form = &session->form();
  form->Form_Load();
  form->ctl.userClick(option);
  if (flags & 0x10) form->ctl.userClick("Check3");
  if (flags & 0x20) form->ctl.userClick("Check4");
  form->ctl.setText("Text6", "fuzz");
  int scheduled = 0, played = 0;
  if (!(flags & 0x40)) {
    ++scheduled;
    host.scheduleAction(0, [&] {
      ++played;
      form->ctl.userClick("Check2");
    });
  }
  int actions = in.byte() % (kMaxActions + 1);
  uint64_t at = 0;
  for (int i = 0; i < actions; ++i) {
    at += static_cast<uint64_t>(in.byte()) * 50;
    uint8_t kind = in.byte(), p1 = in.byte(), p2 = in.byte();
    ++scheduled;
    host.scheduleAction(at, [&form, &played, kind, p1, p2] {
      ++played;
      Play(*form, kind, p1, p2);
    });
  }
  // Once the line has said everything and every action has run, a silent stretch longer than
  // any time limit shows all that is left to see: the run ends there.
  std::optional<uint64_t> quietSince;
  for (uint64_t t = kSliceMs; t <= kSessionMs; t += kSliceMs) {
    host.runUntil(t);
    if (!in.exhausted() || played < scheduled) continue;
    if (!quietSince) quietSince = host.now();
    if (host.now() - *quietSince >= kQuietMs) break;
  }
  session.reset();
  return 0;
}
