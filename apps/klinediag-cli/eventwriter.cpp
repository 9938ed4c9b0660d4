#include "eventwriter.h"

#include <cerrno>
#include <cstring>
#include <variant>

#include "serial/filepath.h"

namespace kline {

std::string OutputTarget::open(const std::string& target, std::ostream& stdoutStream) {
  if (target == "-") {
    stream = &stdoutStream;
    return {};
  }
  errno = 0;
  file = std::make_unique<std::ofstream>(PathFromUtf8(target), std::ios::binary | std::ios::trunc);
  stream = file.get();
  if (*file) return {};
  const int why = errno;
  return "cannot write " + target + (why ? std::string(": ") + std::strerror(why) : std::string());
}

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
