#include "session/eventjsonlines.h"

#include <nlohmann/json.hpp>
#include <type_traits>
#include <variant>

#include "connection/ecutypes.h"
#include "livedata/channels.h"
#include "serial/byteexchange.h"
#include "serial/text.h"

namespace kline {

using nlohmann::ordered_json;

namespace {

// Text from the line may hold bytes that are not UTF-8: they become U+FFFD.
std::string Dump(const ordered_json& j) {
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

ordered_json head(uint64_t t, const char* ev) {
  ordered_json j;
  j["t_ms"] = t;
  j["ev"] = ev;
  return j;
}

// A readout's lines, each with its fault flag.
ordered_json ReadoutLines(const Readout& r) {
  ordered_json lines = ordered_json::array();
  for (std::size_t i = 0; i < r.lines.size(); ++i)
    lines.push_back(
        {{"text", JsonTrimmed(r.lines[i])}, {"fault", i < r.fault.size() && r.fault[i]}});
  return lines;
}

// The fields of a typed event. A live cycle's wall time is left out: a run on virtual time
// prints the same lines each time; its time is the line's `t_ms`.
void addFields(ordered_json& j, const SessionEvent& e) {
  std::visit(
      [&]([[maybe_unused]] const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, ev::LinkChanged>) {
          j["state"] = LinkStateName(x.status.state);
          j["text"] = x.status.text;
          j["values_stale"] = x.status.valuesStale;
          j["rpm_stale"] = x.status.rpmStale;
        } else if constexpr (std::is_same_v<T, ev::Connecting>) {
          j["port"] = x.port;
          j["ecu"] = EcuWord(x.ecu);
        } else if constexpr (std::is_same_v<T, ev::EcuAnswered>) {
          j["rpm"] = x.rpm;
        } else if constexpr (std::is_same_v<T, ev::EcuIdentified>) {
          j["iso_code"] = x.isoCode;
          j["identification"] = x.identification;
          j["calibration"] = x.calibration;
          j["ecu"] = EcuWord(x.ecu);
          j["trusted"] = x.trusted;
        } else if constexpr (std::is_same_v<T, ev::LiveCycle>) {
          j["completed"] = x.completed;
          ordered_json channels = ordered_json::array();
          for (std::size_t i = 0; i < x.channels.size(); ++i) {
            const ev::ChannelReading& c = x.channels[i];
            ordered_json ch;
            ch["name"] = LiveChannels()[i].name;
            ch["unit"] = LiveChannels()[i].unit;
            ch["ticked"] = c.ticked;
            ch["value"] = c.value ? ordered_json(*c.value) : ordered_json(nullptr);
            ch["text"] = JsonTrimmed(c.text);
            channels.push_back(std::move(ch));
          }
          j["channels"] = std::move(channels);
        } else if constexpr (std::is_same_v<T, ev::LoopPaused>) {
          j["paused"] = x.paused;
          j["why"] = x.why;
        } else if constexpr (std::is_same_v<T, ev::ReadoutDone>) {
          const Readout& r = x.readout;
          j["kind"] = ReadoutKindName(r.kind);
          j["code"] = HexByte(static_cast<uint8_t>(r.code));
          j["bytes"] = ReadoutHexBytes(r);
          j["lines"] = ReadoutLines(r);
          j["fault_stored"] = r.faultStored;
          j["trusted"] = r.trusted;
        } else if constexpr (std::is_same_v<T, ev::TestStarted>) {
          j["window"] = WindowWord(x.window);
          j["name"] = JsonTrimmed(x.name);
          j["code"] = HexByte(static_cast<uint8_t>(x.code));
        } else if constexpr (std::is_same_v<T, ev::TestEnded>) {
          j["window"] = WindowWord(x.window);
          j["name"] = JsonTrimmed(x.name);
          j["verdict"] = ev::VerdictName(x.verdict);
          j["text"] = JsonTrimmed(x.shown);
        } else if constexpr (std::is_same_v<T, ev::TrimmerSet>) {
          // The byte written; none known before is null.
          j["before"] = x.before >= 0 ? ordered_json(x.before) : ordered_json(nullptr);
          j["after"] = x.after;
        } else if constexpr (std::is_same_v<T, ev::CoRegulationSet>) {
          j["before"] = x.before;
          j["after"] = x.after;
        }
      },
      e);
}

}  // namespace

std::string WindowWord(const std::string& window) {
  if (window == "Form2") return "main";
  if (window == "Form1") return "tests";
  if (window == "Form3") return "diag";
  return window;
}

std::string EcuWord(const std::string& ecu) {
  for (const EcuTypeInfo& t : EcuTypes())
    if (ecu == t.label || AsciiLower(ecu) == t.cliName) return t.cliName;
  return ecu;
}

std::string JsonTrimmed(const std::string& text) {
  return Trim(text);
}

std::vector<std::string> ReadoutHexBytes(const Readout& r) {
  std::vector<std::string> bytes;
  const std::size_t n = r.kind == ReadoutKind::Faults ? r.bytes.size() : 1;
  for (std::size_t i = 0; i < n; ++i) bytes.push_back(HexByte(r.bytes[i]));
  return bytes;
}

void EventJsonLines::onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "set");
  j["window"] = WindowWord(w);
  j["ctl"] = c;
  j["prop"] = propName(p);
  std::visit([&](const auto& x) { j["value"] = x; }, v);
  line(t, Dump(j));
}

void EventJsonLines::onLog(const std::string& w, const std::string& text) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "log");
  j["window"] = WindowWord(w);
  j["text"] = text;
  line(t, Dump(j));
}

void EventJsonLines::onTx(const ByteString& b) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "tx");
  j["hex"] = ToHex(b);
  line(t, Dump(j));
}

void EventJsonLines::onRx(const ByteString& b) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "rx");
  j["hex"] = ToHex(b);
  line(t, Dump(j));
}

void EventJsonLines::onBaud(int v, bool ok) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "baud");
  j["value"] = v;
  j["ok"] = ok;
  line(t, Dump(j));
}

void EventJsonLines::onOpen(bool ok) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "open");
  j["ok"] = ok;
  line(t, Dump(j));
}

void EventJsonLines::onClose() {
  const uint64_t t = clock_();
  line(t, Dump(head(t, "close")));
}

void EventJsonLines::onLost(const std::string& reason) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "lost");
  j["reason"] = reason;
  line(t, Dump(j));
}

void EventJsonLines::onTimer(int interval) {
  const uint64_t t = clock_();
  ordered_json j = head(t, "timer");
  j["interval"] = interval;
  line(t, Dump(j));
}

void EventJsonLines::onEvent(const SessionEvent& e) {
  // A field written from the ECU's answer comes about ten times a cycle, and the link's state
  // and the live cycle already say what it tells.
  if (std::holds_alternative<ev::EcuAnswered>(e)) return;
  // Every line has its "ev": a reader that picks lines by it skips these as one more kind.
  const uint64_t t = clock_();
  ordered_json j = head(t, "event");
  j["event"] = EventName(e);
  addFields(j, e);
  line(t, Dump(j));
}

}  // namespace kline
