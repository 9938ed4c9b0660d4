#include "actuators/form1.h"

#include <regex>

#include "host/host.h"
#include "livedata/numbers.h"
#include "serial/byteexchange.h"
#include "serial/text.h"

namespace kline {

namespace {

const ActuatorTest kTests[9] = {
    {"Command1", "Fuel pump", 0x80, 0x80, "Fuel pump", "Fuel pump", 36},
    {"Command2", "Injector 1", 0x86, 0x81, "Injector1", "Injector1", 30},
    {"Command3", "Injector 2", 0x87, 0x87, "Injector2", "Injector2", 30},
    {"Command4", "Rev counter", 0x85, 0x86, "Rev counter", "rev counter", 30},
    {"Command5", "Coil 1", 0x81, 0x82, "Coil1", "Coil1", 30},
    {"Command6", "Coil 2", 0x82, 0x83, "Coil2", "Coil2", 30},
    {"Command7", "Clear DTC errors", 0x83, 0x84, "Clear DTC", "Clear DTC", 30, true},
    {"Command8", "Custom code", -1, -1, "Custom code ", "Custom code ", 36},
    {"Command9", "Reset TPS 15RC", 0x89, 0x89, "Reset TPS", "Reset TPS", 30}};

std::string lastPair(const std::string& reply) {
  return reply.size() >= 2 ? reply.substr(reply.size() - 2) : reply;
}

}  // namespace

const ActuatorTest* ActuatorTests() {
  return kTests;
}

Form1::Form1(MainWindowLink& main, EventSink* sink)
    : ChildWindow("Form1", "Test", sink), main_(main) {
  using K = ControlKind;
  for (int i = 0; i < 9; ++i)
    ctl.add(kTests[i].button, K::Button, kTests[i].caption).handler = [this, i] {
      Command_Click(i + 1);
    };
  ctl.add("Text1", K::TextBox).text = "00";
  ctl.add("Frame1", K::Frame, "Co Regulation (not debugged yet)");
  Control& on = ctl.add("Option1", K::Option, "On");
  on.group = "co";
  on.handler = [this] { Option1_Click(); };
  Control& off = ctl.add("Option2", K::Option, "Off");
  off.group = "co";
  off.value = 1;
  off.handler = [this] { Option2_Click(); };
  Control& slider = ctl.add("Slider1", K::Slider);
  slider.min = -127;
  slider.max = 127;
  slider.enabled = false;
  slider.handler = [this] { Slider1_Change(); };
  ctl.add("Text2", K::TextBox).handler = [this] { Text2_Change(); };
  ctl.add("Command10", K::Button, "Ok").enabled = false;
  ctl.at("Command10").handler = [this] { Command10_Click(); };
  ctl.add("Pg1", K::ProgressBar).max = 30;
  ctl.add("back", K::Button, "Back").handler = [this] { back_Click(); };
}

bool Form1::exchange(uint8_t byte, int timeLimit, int poll1, int poll2, std::string& reply) {
  SerialPort& com = *main_.port();
  com.readAll();
  com.write(ByteString(1, static_cast<char>(byte)));
  ExchangeClock clk;
  clk.t0 = main_.host().timeGetTime();
  if (!WaitForBytes(com, main_.host(), 2, timeLimit, poll1, poll2, clk)) return false;
  reply = ToHex(com.readAll());
  return true;
}

void Form1::Form_Load() {
  Host& host = main_.host();
  host.Sleep(500);
  std::string reply;
  if (main_.portOpen()) {
    SerialPort& com = *main_.port();
    host.Sleep(28);
    com.readAll();
    com.write(ByteString(1, static_cast<char>(0xAA)));
    host.Sleep(25);
    ExchangeClock clk;
    clk.t0 = host.timeGetTime();
    if (WaitForBytes(com, host, 2, 5000, 1, 3, clk)) reply = ToHex(com.readAll());
  }
  if (reply == "AAFF" || reply == "AAAA") {
    log("Enter in diagnostic mode OK");
  } else {
    host.Sleep(500);
    back_Click();
  }
}

void Form1::back_Click() {
  if (waiting_) {
    // End the verdict wait first; the test that runs it leaves when it returns.
    backRequested_ = true;
    return;
  }
  leave();
}

void Form1::leave() {
  if (main_.portOpen()) {
    Host& host = main_.host();
    host.Sleep(8);
    std::string reply;
    SerialPort& com = *main_.port();
    com.readAll();
    com.write(ByteString(1, static_cast<char>(0xFF)));
    ExchangeClock clk;
    clk.t0 = host.timeGetTime();
    if (WaitForBytes(com, host, 2, 3000, 1, 3, clk)) {
      reply = ToHex(com.readAll());
      if (reply == "FFFF") log("Exit diagnostic mode OK");
    }
  }
  main_.TimerOn(20);
  main_.Show();
  Unload();
}

void Form1::Command_Click(int n) {
  // A test button pressed during a verdict wait would nest a second test in the first.
  if (waiting_ || n < 1 || n > 9) return;
  const ActuatorTest& t = kTests[n - 1];
  const bool groupA = main_.testCodes() == TestCodes::First;
  if (n == 8) {
    std::string code = Trim(ctl.text("Text1"));
    static const std::regex hex("^[0-9A-Fa-f]{1,2}$");
    if (!std::regex_match(code, hex)) {
      log("Custom code refused: type one or two hexadecimal digits, not \"" + ctl.text("Text1") +
          "\"");
      return;
    }
    RunActuatorTest(static_cast<uint8_t>(std::stoi(code, nullptr, 16)), t.nameA + ctl.text("Text1"),
                    static_cast<int16_t>(t.duration));
    return;
  }
  RunActuatorTest(static_cast<uint8_t>(groupA ? t.codeA : t.codeB), groupA ? t.nameA : t.nameB,
                  static_cast<int16_t>(t.duration));
}

void Form1::RunActuatorTest(uint8_t code, const std::string& name, int16_t duration) {
  Host& host = main_.host();
  ctl.setValue("Pg1", 0);
  host.DoEvents();
  host.Sleep(50);
  if (main_.portOpen()) {
    SerialPort& com = *main_.port();
    com.readAll();
    com.write(ByteString(1, static_cast<char>(code)));
    log(name);
    main_.publish(ev::TestStarted{"Form1", name, code});
    shown_.clear();
    ExchangeClock clk;
    clk.t0 = host.timeGetTime();
    if (WaitForBytes(com, host, 2, 5000, 3, 1, clk)) {
      std::string reply = ToHex(com.readAll());
      log(reply);
      if (lastPair(reply) == "FF") {
        log("Test finish");
        shown_ = "Test finish";
      } else {
        WaitActuatorVerdict(duration);
      }
    }
    ev::Verdict v = ev::VerdictOfShown(shown_);
    if (v == ev::Verdict::Unknown && backRequested_) v = ev::Verdict::Cancelled;
    main_.publish(ev::TestEnded{"Form1", name, v, shown_});
  }
  if (backRequested_) {
    backRequested_ = false;
    leave();
  }
}

void Form1::WaitActuatorVerdict(int16_t duration) {
  Host& host = main_.host();
  ctl.setMax("Pg1", duration);
  bool anyByte = false;
  waiting_ = true;
  while (ctl.value("Pg1") < ctl.get("Pg1").max) {
    host.DoEvents();
    if (backRequested_) break;
    // A port that went away sends no verdict: the wait ends at once.
    if (main_.port() && main_.port()->lost()) break;
    ctl.setValue("Pg1", ctl.value("Pg1") + 1);
    PauseWhileAttached(main_.port(), host, 1000);
    if (main_.portOpen() && main_.port()->inBufferCount() >= 1) {
      std::string reply = ToHex(main_.port()->readAll());
      anyByte = true;
      log(reply);
      if (reply == "FF") {
        ctl.setValue("Pg1", ctl.get("Pg1").max);
        log("Test finish");
        shown_ = "Test finish";
      } else if (reply == "EE") {
        ctl.setValue("Pg1", ctl.get("Pg1").max);
        log("Test failed");
        shown_ = "Test failed";
      }
    }
  }
  waiting_ = false;
  if (!anyByte && !backRequested_) {
    log("Test unknown");
    shown_ = "Test unknown";
  }
  ctl.setValue("Pg1", 0);
}

void Form1::coRegulation(bool on) {
  for (int i = 1; i <= 9; ++i) ctl.setEnabled("Command" + std::to_string(i), !on);
  ctl.setEnabled("Command10", on);
  ctl.setEnabled("Slider1", on);
  Host& host = main_.host();
  host.DoEvents();
  host.Sleep(50);
  if (!main_.portOpen()) return;
  std::string reply;
  if (!exchange(on ? 0x8D : 0xFF, 5000, 3, 0, reply)) return;
  log(reply);
  std::string answer = lastPair(reply);
  if (on) {
    if (answer == "FF")
      log("Test finish");
    else if (answer == "8D") {
      log("Enter CO Regulation OK");
      main_.publish(ev::CoRegulationSet{co_, true});
      co_ = true;
    }
  } else if (answer == "FF") {
    log("Exit CO Regulation OK");
    main_.publish(ev::CoRegulationSet{co_, false});
    co_ = false;
    back_Click();
  }
}

void Form1::Option1_Click() {
  coRegulation(true);
}
void Form1::Option2_Click() {
  coRegulation(false);
}

void Form1::Slider1_Change() {
  ctl.setText("Text2", std::to_string(ctl.value("Slider1") + 127));
}

void Form1::Text2_Change() {
  double v = Val(ctl.text("Text2"));
  if (v >= 0 && v <= 254) ctl.setValue("Slider1", static_cast<int>(RoundHalfEven(v - 127)));
}

void Form1::Command10_Click() {
  std::string text = Trim(ctl.text("Text2"));
  if (ctl.text("Text2").empty()) return;
  // Only a whole number the ECU can take goes on the line.
  static const std::regex whole("^[0-9]{1,3}$");
  if (!std::regex_match(text, whole) || std::stoi(text) > 254) {
    log("Trimmer value refused: type a whole number from 0 to 254, not \"" + ctl.text("Text2") +
        "\"");
    return;
  }
  int value = std::stoi(text);
  Host& host = main_.host();
  host.DoEvents();
  host.Sleep(50);
  if (!main_.portOpen()) return;
  std::string reply;
  if (!exchange(static_cast<uint8_t>(value), 5000, 3, 0, reply)) return;
  log(reply);
  if (lastPair(reply) == ToHex(ByteString(1, static_cast<char>(value)))) {
    log("trimmer set to:" + std::to_string(ctl.value("Slider1")));
    // What went on the line, whatever the slider says.
    main_.publish(ev::TrimmerSet{trimmer_, value});
    trimmer_ = value;
  }
}

void Form1::TrimmerHandover(const std::string& field) {
  double v = Val(field);
  if (!(v > -128 && v < 127)) return;
  // The value read is known before a new one is set, whether or not the window is open.
  trimmerRead(static_cast<int>(RoundHalfEven(v)));
  // Only an open test window takes the value: creating it here would put the ECU into
  // diagnostic mode in the middle of live polling, on every cycle.
  if (!loaded()) return;
  ctl.setValue("Slider1", static_cast<int>(RoundHalfEven(v)));
  ctl.setText("Text2", PlainForm(v));
}

}  // namespace kline
