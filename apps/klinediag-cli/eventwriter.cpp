#include "eventwriter.h"

#include <variant>

namespace kline {

void JsonEventWriter::line(uint64_t /*t*/, std::string text) {
  out_ << text << '\n';
  if (flush_) out_.flush();
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
