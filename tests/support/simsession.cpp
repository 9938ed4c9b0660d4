#include "support/simsession.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "serial/byteexchange.h"

namespace kline::test {

Recorded& Recorder::add(const std::string& ev, const std::string& win, const std::string& text) {
  Recorded r;
  r.t = host_.now();
  r.ev = ev;
  r.win = win;
  r.text = text;
  events.push_back(r);
  return events.back();
}

void Recorder::onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) {
  std::string s;
  if (auto* str = std::get_if<std::string>(&v))
    s = *str;
  else if (auto* i = std::get_if<int>(&v))
    s = std::to_string(*i);
  else if (auto* b = std::get_if<bool>(&v))
    s = *b ? "true" : "false";
  Recorded& r = add("set", w, s);
  r.ctl = c;
  r.prop = propName(p);
}

void Recorder::onTx(const ByteString& b) {
  add("tx", "", ToHex(b));
}
void Recorder::onRx(const ByteString& b) {
  add("rx", "", ToHex(b));
}
void Recorder::onBaud(int v, bool ok) {
  Recorded& r = add("baud", "", std::to_string(v));
  r.num = v;
  r.ok = ok;
}
void Recorder::onOpen(bool ok) {
  add("open", "", "").ok = ok;
}
void Recorder::onTimer(int i) {
  add("timer", "", std::to_string(i)).num = i;
}

std::vector<Recorded> Recorder::of(const std::string& ev) const {
  std::vector<Recorded> out;
  for (const auto& e : events)
    if (e.ev == ev) out.push_back(e);
  return out;
}

std::vector<std::string> Recorder::logLines(const std::string& win) const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.ev == "log" && e.win == win) out.push_back(e.text);
  return out;
}

std::vector<std::string> Recorder::txTimeline() const {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.ev == "tx") out.push_back(std::to_string(e.t) + ":" + e.text);
  return out;
}

std::filesystem::path TempFolder() {
  // A folder of its own every time, made by this call: a name made from the process id alone
  // meets the files of an earlier test process that had the same id.
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "klinediag-test-";
    for (int i = 0; i < 8; ++i) name += kChars[rd() % (sizeof kChars - 1)];
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) return base / name;
  }
  throw std::runtime_error("cannot make a temporary folder");
}

std::string TempSettingsPath() {
  return (TempFolder() / "klinediag.ini").string();
}

namespace {

std::unique_ptr<SessionCore> MakeCore(VirtualHost& host, const SimConfig& cfg,
                                      const std::string& settingsPath) {
  SessionOptions o;
  o.settingsPath = settingsPath;
  // Read at each connect, so that a test may change it first.
  o.sim = std::shared_ptr<const SimConfig>(std::shared_ptr<void>(), &cfg);
  o.simTypeFollowsForm = false;
  o.wallClock = nullptr;
  return std::make_unique<SessionCore>(host, std::move(o));
}

}  // namespace

SimSession::SimSession(SimConfig c, std::string path, bool load)
    : cfg(std::move(c)),
      settingsPath(path.empty() ? TempSettingsPath() : std::move(path)),
      core(MakeCore(host, cfg, settingsPath)),
      form(&core->form()),
      sim{core.get()},
      opened(core->opened()) {
  sinks.add(&rec);
  core->observe(&sinks);
  if (load) core->load();
}

SimSession::~SimSession() {
  // The window reports its port's close as it goes: not to observers a test has already let go.
  sinks = EventFanout();
  sinks.add(&rec);
  core.reset();
}

void SimSession::connect(const char* option, const char* port) {
  if (option) form->ctl.userClick(option);
  form->ctl.setText("Text6", port);
  form->ctl.userClick("Check2");
}

void SimSession::disconnect() {
  form->ctl.userClick("Check2");
}

}  // namespace kline::test
