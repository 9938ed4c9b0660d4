#include "eventwriter.h"

#include <nlohmann/json.hpp>

#include "connection/byteexchange.h"

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

void LogLineWriter::onLog(const std::string& w, const std::string& line) {
  if (w != window_) return;
  out_ << line << '\n';
  if (flush_) out_.flush();
}

void ReadableWriter::onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) {
  if (w != "Form2" || c != "Text4" || p != Prop::Text) return;
  const auto* text = std::get_if<std::string>(&v);
  if (!text) return;
  // The pane grows by whole lines; print what was added, or nothing when it was emptied.
  if (text->size() > info_.size() && text->compare(0, info_.size(), info_) == 0) {
    std::string added = text->substr(info_.size());
    std::size_t pos = 0;
    while (pos < added.size()) {
      std::size_t end = added.find("\r\n", pos);
      if (end == std::string::npos) end = added.size();
      out_ << "  [ECU] " << added.substr(pos, end - pos) << '\n';
      pos = end + 2;
    }
    if (flush_) out_.flush();
  }
  info_ = *text;
}

void ReadableWriter::onLog(const std::string& w, const std::string& line) {
  if (w != "Form2") out_ << w << ": ";
  out_ << line << '\n';
  if (flush_) out_.flush();
}

}  // namespace kline
