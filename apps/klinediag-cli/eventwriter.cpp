#include "eventwriter.h"

#include <nlohmann/json.hpp>
#include <type_traits>
#include <variant>

#include "livedata/channels.h"
#include "serial/byteexchange.h"
#include "serial/text.h"

namespace kline {

using nlohmann::ordered_json;

template <class J>
void JsonEventWriter::put(J&& obj) {
  out_ << obj.dump(-1, ' ', false, ordered_json::error_handler_t::replace) << '\n';
  if (flush_) out_.flush();
}

namespace {

ordered_json head(uint64_t t, const char* ev) {
  ordered_json j;
  j["t"] = t;
  j["ev"] = ev;
  return j;
}

// The fields of a typed event. A live cycle's wall time is left out: a run on virtual time
// prints the same lines each time.
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
          j["ecu"] = x.ecu;
        } else if constexpr (std::is_same_v<T, ev::EcuAnswered>) {
          j["rpm"] = x.rpm;
        } else if constexpr (std::is_same_v<T, ev::EcuIdentified>) {
          j["iso_code"] = x.isoCode;
          j["identification"] = x.identification;
          j["calibration"] = x.calibration;
          j["ecu"] = x.ecu;
          j["trusted"] = x.trusted;
        } else if constexpr (std::is_same_v<T, ev::LiveCycle>) {
          j["line_ms"] = x.lineMs;
          j["completed"] = x.completed;
          ordered_json channels = ordered_json::array();
          for (std::size_t i = 0; i < x.channels.size(); ++i) {
            const ev::ChannelReading& c = x.channels[i];
            ordered_json ch;
            ch["name"] = LiveChannels()[i].name;
            ch["unit"] = LiveChannels()[i].unit;
            ch["ticked"] = c.ticked;
            ch["value"] = c.value ? ordered_json(*c.value) : ordered_json(nullptr);
            ch["text"] = c.text;
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
          ordered_json bytes = ordered_json::array();
          const std::size_t n = r.kind == ReadoutKind::Faults ? r.bytes.size() : 1;
          for (std::size_t i = 0; i < n; ++i)
            bytes.push_back(HexByte(static_cast<uint8_t>(r.bytes[i])));
          j["bytes"] = std::move(bytes);
          j["lines"] = r.lines;
          j["fault"] = r.fault;
          j["fault_stored"] = r.faultStored;
          j["trusted"] = r.trusted;
        } else if constexpr (std::is_same_v<T, ev::TestStarted>) {
          j["window"] = x.window;
          j["name"] = x.name;
          j["code"] = HexByte(static_cast<uint8_t>(x.code));
        } else if constexpr (std::is_same_v<T, ev::TestEnded>) {
          j["window"] = x.window;
          j["name"] = x.name;
          j["verdict"] = ev::VerdictName(x.verdict);
          j["shown"] = x.shown;
        } else if constexpr (std::is_same_v<T, ev::TrimmerSet> ||
                             std::is_same_v<T, ev::CoRegulationSet>) {
          j["before"] = x.before;
          j["after"] = x.after;
        }
      },
      e);
}

}  // namespace

void JsonEventWriter::onSet(const std::string& w, const std::string& c, Prop p,
                            const PropValue& v) {
  ordered_json j = head(clock_(), "set");
  j["win"] = w;
  j["ctl"] = c;
  j["prop"] = propName(p);
  std::visit([&](const auto& x) { j["value"] = x; }, v);
  put(j);
}

void JsonEventWriter::onLog(const std::string& w, const std::string& line) {
  ordered_json j = head(clock_(), "log");
  j["win"] = w;
  j["text"] = line;
  put(j);
}

void JsonEventWriter::onTx(const ByteString& b) {
  ordered_json j = head(clock_(), "tx");
  j["hex"] = ToHex(b);
  put(j);
}

void JsonEventWriter::onRx(const ByteString& b) {
  ordered_json j = head(clock_(), "rx");
  j["hex"] = ToHex(b);
  put(j);
}

void JsonEventWriter::onBaud(int v, bool ok) {
  ordered_json j = head(clock_(), "baud");
  j["value"] = v;
  j["ok"] = ok;
  put(j);
}

void JsonEventWriter::onOpen(bool ok) {
  ordered_json j = head(clock_(), "open");
  j["ok"] = ok;
  put(j);
}

void JsonEventWriter::onClose() {
  put(head(clock_(), "close"));
}

void JsonEventWriter::onLost(const std::string& reason) {
  ordered_json j = head(clock_(), "lost");
  j["reason"] = reason;
  put(j);
}

void JsonEventWriter::onTimer(int interval) {
  ordered_json j = head(clock_(), "timer");
  j["interval"] = interval;
  put(j);
}

void JsonEventWriter::onEvent(const SessionEvent& e) {
  // A field written from the ECU's answer comes about ten times a cycle, and the link's state
  // and the live cycle already say what it tells.
  if (std::holds_alternative<ev::EcuAnswered>(e)) return;
  // Every line has its "ev": a reader that picks lines by it skips these as one more kind.
  ordered_json j = head(clock_(), "event");
  j["event"] = EventName(e);
  addFields(j, e);
  put(j);
}

void LogLineWriter::onLog(const std::string& w, const std::string& line) {
  if (w != window_) return;
  out_ << line << '\n';
  if (flush_) out_.flush();
}

void ReadableWriter::onEvent(const SessionEvent& e) {
  // The line the window added to its information pane.
  const auto* id = std::get_if<ev::EcuIdentified>(&e);
  if (!id) return;
  out_ << "  [ECU] " << id->line << '\n';
  if (flush_) out_.flush();
}

void ReadableWriter::onLog(const std::string& w, const std::string& line) {
  if (w != "Form2") out_ << w << ": ";
  out_ << line << '\n';
  if (flush_) out_.flush();
}

}  // namespace kline
