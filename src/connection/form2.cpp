#include "connection/form2.h"

#include <tuple>

#include "actuators/form1.h"
#include "connection/ecutypes.h"
#include "connection/portfield.h"
#include "diagnosis/form3.h"
#include "livedata/numbers.h"

namespace kline {

namespace {

const char* kChannelCaptions[9] = {
    "rpm",        "inj duration", "ign advance", "manifold pressure", "air temp",
    "water temp", "throttle",     "battery",     "trimmer value"};
const char* kDegree = "\xC2\xB0";
const char* kUnits[9] = {"tr/m", "ms", kDegree, "mBar", kDegree, kDegree, kDegree, "V", ""};

}  // namespace

Form2::Form2(Host& host, PortFactory makePort, std::string settingsPath, EventSink* sink)
    : ctl("Form2", sink),
      host_(host),
      makePort_(std::move(makePort)),
      ini_(std::move(settingsPath)),
      sink_(sink) {
  buildControls();
  form1_ = std::make_unique<Form1>(*this, sink);
  form3_ = std::make_unique<Form3>(*this, sink);
  host_.setTimerHandler([this] { Timer1_Timer(); });
}

ControlModel* Form2::window(const std::string& name) {
  if (name == "Form2") return &ctl;
  if (name == "Form1") return &form1_->ctl;
  if (name == "Form3") return &form3_->ctl;
  return nullptr;
}

Form2::~Form2() {
  host_.setTimer(0);
  host_.setTimerHandler({});
  if (MSComm1 && MSComm1->isOpen()) MSComm1->close();
}

void Form2::buildControls() {
  using K = ControlKind;
  ctl.add("Form2", K::Frame, "klinediag");
  ctl.add("Check2", K::CheckBox, "Connect").handler = [this] { Check2_Click(); };
  ctl.add("Shape1", K::Shape);
  ctl.add("Label4", K::Label);
  ctl.add("Text4", K::TextBox).fromEcu = Control::FromEcu::Value;
  ctl.add("Text6", K::TextBox).text = "1";
  ctl.add("Text5", K::TextBox).text = "5";
  ctl.add("Text2", K::TextBox).text = "100";
  ctl.at("Text2").handler = [this] { Text2_Change(); };
  ctl.add("Text11", K::TextBox).text = "10";
  ctl.add("Text7", K::TextBox).text = "30";
  ctl.add("Frame1", K::Frame, "ECU Type");
  for (const EcuTypeInfo& t : EcuTypes()) {
    Control& c = ctl.add(t.option, K::Option, t.caption);
    c.group = "ecu";
    c.handler = [this, h = t.click] { (this->*h)(); };
  }
  ctl.at(DefaultEcuType().option).value = 1;
  ctl.add("Check3", K::CheckBox, "Ecu data").value = 1;
  ctl.at("Check3").handler = [this] { Check3_Click(); };
  ctl.add("Check4", K::CheckBox, "Calibration").handler = [this] { Check4_Click(); };

  for (int i = 0; i < 9; ++i) {
    Control& c = ctl.add(indexed("Check1", i), K::CheckBox, kChannelCaptions[i]);
    c.value = 1;
    c.handler = [this, i] { Check1_Click(i); };
    ctl.add(indexed("Label3", i), K::Label, kUnits[i]);
  }
  for (int i = 0; i < 10; ++i)
    ctl.add(indexed("Text1", i), K::TextBox).fromEcu = Control::FromEcu::Value;
  ctl.add("Label9", K::Label, "V").visible = false;
  ctl.at("Text1(9)").visible = false;
  ctl.add("Text3", K::TextBox).text = "44";
  ctl.add("Label26", K::Label).fromEcu = Control::FromEcu::Rpm;
  ctl.add("Label25", K::Label, "0   1    2   3    4    5   6   7    8   9   10  11  12");
  for (int i = 0; i < 120; ++i)
    ctl.add(indexed("Line1", i), K::Line).colour = i % 10 == 0 ? kSysScrollBars : kSysUnlit;
  ctl.add("Frame5", K::Frame, "Scale");
  ctl.add("Frame6", K::Frame, "Scale");
  for (auto [name, caption, group] :
       {std::tuple{"Option3", "1", "throttle scale"}, std::tuple{"Option4", "2", "throttle scale"},
        std::tuple{"Option6", "1", "trimmer scale"}, std::tuple{"Option5", "2", "trimmer scale"}})
    ctl.add(name, K::Option, caption).group = group;
  ctl.at("Option3").value = 1;
  ctl.at("Option6").value = 1;
  ctl.add("Pg1", K::ProgressBar).max = 30;
  ctl.add("Frame2", K::Frame, "Test");
  ctl.add("List1", K::List).handler = [this] { List1_Click(); };
  ctl.add("Label5", K::Label);
  ctl.add("Label6", K::Label, "Click");
  ctl.add("Command10", K::Button, "Command10").handler = [this] { Command10_Click(); };
  ctl.add("Command5", K::Button, "Command5").handler = [this] { Command5_Click(); };

  ctl.add("Command6", K::Button, "ecu info").handler = [this] { Command6_Click(); };
  ctl.add("Command7", K::Button, "calibration").handler = [this] { Command7_Click(); };
  ctl.add("Command1", K::Button, "copy to clipoard").handler = [this] { Command1_Click(); };
  ctl.add("Command11", K::Button, "DTC").enabled = false;
  ctl.at("Command11").handler = [this] { Command11_Click(); };
  ctl.add("Command2", K::Button, "Virgin?").handler = [this] { Command2_Click(); };
  ctl.add("Command3", K::Button, "Virign2").handler = [this] { Command3_Click(); };
  // The immobiliser readouts need the link, as DTC does: without it they would only start the
  // wake-up over and over.
  ctl.at("Command2").enabled = ctl.at("Command3").enabled = false;
  ctl.add("Command4", K::Button, "Command4").handler = [this] { Command4_Click(); };
  ctl.add("Command9", K::Button, "Command9").handler = [this] { Command9_Click(); };
  ctl.add("test", K::Menu, "Tests").handler = [this] { test_Click(); };
  ctl.add("Diag", K::Menu, "Diag").handler = [this] { Diag_Click(); };
  Control& debug = ctl.add("debug", K::Menu, "Debug");
  debug.enabled = false;
  debug.visible = false;
}

// --- settings file --------------------------------------------------------------------------

std::string Form2::LireINI(const std::string& Entete, const std::string& Variable) {
  return ini_.read(Entete, Variable);
}

void Form2::EcrireINI(const std::string& Entete, const std::string& Variable,
                      const std::string& Valeur) {
  ini_.write(Entete, Variable, Valeur);
}

// --- window events ----------------------------------------------------------------------------

void Form2::Form_Load() {
  ctl.setEnabled("test", false);
  ctl.setEnabled("Diag", false);
  init = ecuinf = cal_ask = kFalse;
  FillTestList(ctl, List1_ItemData, kTestListAtLoad);
  temptab = BuildTempTab();
  lbuff = 44;

  std::string com = LireINI("Hardware", "Com");
  if (!com.empty()) ctl.setText("Text6", com);
  // The saved type is taken only while the window still shows the default one.
  const EcuTypeInfo& byDefault = DefaultEcuType();
  if (ctl.value(byDefault.option)) {
    std::string ecu = LireINI("Hardware", "Ecu");
    for (const EcuTypeInfo& t : EcuTypes()) {
      if (*t.settingsCode && ecu == t.settingsCode) {
        ctl.setValue(t.option, 1);
        break;
      }
    }
  }
  // Any other type that is stored is written back at once.
  const EcuTypeInfo& type = SelectedEcuTypeInfo(ctl);
  if (&type != &byDefault && *type.settingsCode) EcrireINI("Hardware", "Ecu", type.settingsCode);
}

void Form2::Form_Unload() {
  form1_->Unload();
  form3_->Unload();
  TimerOn(0);
  if (MSComm1 && MSComm1->isOpen()) MSComm1->close();
}

void Form2::setBaud7812() {
  SetBaudRate(*MSComm1, 7812);
}

void Form2::Check2_Click() {
  if (ctl.value("Check2") == 1) {
    PortField spec = ParsePortField(ctl.text("Text6"));
    EcrireINI("Hardware", "Com", spec.text());
    const EcuTypeInfo& type = SelectedEcuTypeInfo(ctl);
    if (*type.settingsCode) EcrireINI("Hardware", "Ecu", type.settingsCode);
    init = ecuinf = cal_ask = kFalse;
    connectedAt_ = host_.timeGetTime();
    identity_ = ev::EcuIdentified{};
    identity_.ecu = type.label;
    publish(ev::Connecting{spec.text(), identity_.ecu});

    if (MSComm1 && MSComm1->isOpen()) MSComm1->close();
    MSComm1 = makePort_(spec.text());
    MSComm1->setEventSink(sink_);
    MSComm1->setLostHandler([this](const std::string& why) {
      // Not in the classic window: an adapter pulled out mid-session says so once.
      log("port " + MSComm1->deviceName() + " lost: " + why);
    });
    MSComm1->CommPort = spec.text();
    MSComm1->DTREnable = true;
    MSComm1->RTSEnable = true;
    MSComm1->RThreshold = 1;
    MSComm1->SThreshold = 0;
    MSComm1->Settings = "1200,n,8,1";
    MSComm1->open();
    log("1200bds");
    if (type.connectBaud != 1200) {
      SetBaudRate(*MSComm1, type.connectBaud);
      log(std::to_string(type.connectBaud));
    }
    if (MSComm1->isOpen()) {
      ctl.setColour("Shape1", kRgbGreen);
      ctl.setValue("Check2", 1);
      ctl.setCaption("Check2", "Disconnect");
      host_.Sleep(8);
      MSComm1->readAll();
      init = kFalse;
      ctl.setCaption("Label4", "Wait for ignition..");
      if (type.wakeUp == WakeUp::None) init = kTrue;
      for (int i = 0; i < 9; ++i)
        if (type.untickAtConnect & (1u << i)) ctl.setValue(indexed("Check1", i), 0);
      TimerOn(50);
    } else {
      // Not in the classic window, which stays silent here: say which port and why.
      log("port " + MSComm1->deviceName() + " not opened: " + MSComm1->openError());
    }
  } else {
    TimerOn(0);
    // A port whose device went away is closed like an open one.
    if (MSComm1 && (MSComm1->isOpen() || MSComm1->lost())) {
      MSComm1->readAll();
      MSComm1->close();
      ctl.setCaption("Check2", "Connect");
      ctl.setColour("Shape1", kRgbRed);
    }
    ctl.setText("Text4", "");
    for (int i = 0; i < 10; ++i) ctl.setText(indexed("Text1", i), "");
    init = ecuinf = cal_ask = kFalse;
    form3_->Hide();
    ctl.setCaption("Label4", "");
    ctl.setEnabled("test", false);
    ctl.setEnabled("Diag", false);
    ctl.setEnabled("Command11", false);
    ctl.setEnabled("Command2", false);
    ctl.setEnabled("Command3", false);
    publish(ev::Disconnected{});
  }
}

void Form2::Check3_Click() {
  if (ctl.value("Check3") == 1) ecuinf = kTrue;
}

void Form2::Check4_Click() {
  if (ctl.value("Check4") == 1) cal_ask = kTrue;
}

void Form2::Text2_Change() {
  int32_t v = WholeNumber(ctl.text("Text2"));
  // The interval is 16 bits wide: longer refresh times are held at the longest one.
  if (v > 32767) v = 32767;
  if (v < -32768) v = -32768;
  TimerOn(static_cast<int16_t>(v));
}

void Form2::Command1_Click() {
  host_.setClipboard(ctl.log().text());
}

void Form2::Command4_Click() {
  Hide();
  form1_->Show();
}

void Form2::Command9_Click() {
  form1_->Load();
}

void Form2::test_Click() {
  pauseLoop("the Tests window is open");
  host_.Sleep(100);
  Hide();
  form1_->Show();
}

void Form2::Diag_Click() {
  pauseLoop("the Diag window is open");
  Hide();
  form3_->Show();
}

// The ECU type options: each shows its type's tests and sets the voltage field as its row says.
void Form2::Option1_Click() {
  ecuTypeChosen("Option1");
}

void Form2::Option2_Click() {
  ecuTypeChosen("Option2");
}

void Form2::Option7_Click() {
  ecuTypeChosen("Option7");
}

void Form2::Option8_Click() {
  ecuTypeChosen("Option8");
}

void Form2::Option9_Click() {
  ecuTypeChosen("Option9");
}

void Form2::ecuTypeChosen(const char* option) {
  const EcuTypeInfo& type = *FindEcuType(option);
  FillTestList(ctl, List1_ItemData, *type.tests);
  if (type.voltageField != VoltageField::Keep) showVoltage(type.voltageField == VoltageField::Show);
}

void Form2::showVoltage(bool on) {
  ctl.setVisible("Text1(9)", on);
  ctl.setVisible("Label9", on);
}

TestCodes Form2::testCodes() const {
  return SelectedEcuTypeInfo(ctl).testCodes;
}

void Form2::appendInfo(const std::string& line) {
  ctl.setText("Text4", ctl.text("Text4") + line + "\r\n");
}

void Form2::identified(std::string ev::EcuIdentified::*part, const std::string& label,
                       const std::string& text) {
  appendInfo(label + text);
  identity_.*part = text;
  identity_.line = label + text;
  publish(identity_);
}

// --- the poll loop ----------------------------------------------------------------------------

void Form2::TimerOn(int16_t Interval) {
  int interval = Interval < 1 ? 0 : Interval;
  host_.setTimer(interval);
  if (sink_) sink_->onTimer(interval);
  if ((interval > 0) != loopRunning_) {
    loopRunning_ = interval > 0;
    publish(ev::LoopPaused{!loopRunning_, loopRunning_ ? "" : loopWhy_});
  }
  loopWhy_ = "";
}

void Form2::Timer1_Timer() {
  Pause(host_, WholeNumber(ctl.text("Text5")));
  if (!init) {
    log("init = false => call initial ");
    InitLink();
    ctl.setEnabled("test", false);
    ctl.setEnabled("Diag", false);
  }
  if (init) {
    ctl.setEnabled("test", true);
    ctl.setEnabled("Diag", true);
    ctl.setEnabled("Command11", true);
    ctl.setEnabled("Command2", true);
    ctl.setEnabled("Command3", true);
    if (!ecuinf) ReadEcuInfo();
    if (ecuinf) {
      if (!cal_ask) ReadCalibration();
      if (cal_ask) runLiveCycle();
    }
  }
}

void Form2::runLiveCycle() {
  (this->*SelectedEcuTypeInfo(ctl).live)();
  const bool completed = lastCycleCompleted_;
  const uint32_t ms = host_.timeGetTime() - connectedAt_;
  ev::LiveCycle cycle;
  cycle.lineMs = ms;
  cycle.completed = completed;
  for (int i = 0; i < 10; ++i) {
    ev::ChannelReading& r = cycle.channels[static_cast<std::size_t>(i)];
    r.text = ctl.text(indexed("Text1", i));
    r.value = FieldValue(r.text);
    r.ticked = i < 9 ? ctl.value(indexed("Check1", i)) == 1 : ctl.visible("Text1(9)");
  }
  publish(cycle);
}

// --- channels ---------------------------------------------------------------------------------

void Form2::Check1_Click(int /*Index*/) {
  host_.DoEvents();
  if (init) pauseLoop("the channels change");
  lbuff = 0;
  for (int i = 0; i < 9; ++i) {
    int v = ctl.value(indexed("Check1", i));
    if (v == 1)
      lbuff += i < 2 ? 8 : 4;
    else if (v == 0)
      ctl.setText(indexed("Text1", i), "");
  }
  if (lbuff == 0) {
    ctl.setValue("Check1(6)", 1);
    lbuff = 4;
  }
  ctl.setText("Text3", std::to_string(lbuff));
  if (init && ctl.value("Pg1") == 0) TimerOn(50);
}

}  // namespace kline
