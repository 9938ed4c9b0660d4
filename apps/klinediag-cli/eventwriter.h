#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "session/eventjsonlines.h"
#include "ui/eventsink.h"

namespace kline {

// Where an output option (--events, --log, --report) writes: "-" is standard output, anything
// else a file written anew.
struct OutputTarget {
  std::unique_ptr<std::ofstream> file;
  std::ostream* stream = nullptr;
  // Opens it; returns why it cannot be written ("cannot write FILE: REASON"), or an empty text.
  std::string open(const std::string& target, std::ostream& stdoutStream);
};

// Writes a session's events as JSON Lines (see EventJsonLines) to a stream.
class JsonEventWriter : public EventJsonLines {
 public:
  JsonEventWriter(std::ostream& out, std::function<uint64_t()> clock, bool flushEach)
      : EventJsonLines(std::move(clock)), out_(out), flush_(flushEach) {}

 protected:
  void line(uint64_t t, std::string text) override;

 private:
  std::ostream& out_;
  bool flush_;
};

// Writes one window's log pane as plain lines.
class LogLineWriter : public EventSink {
 public:
  LogLineWriter(std::ostream& out, std::string window, bool flushEach)
      : out_(out), window_(std::move(window)), flush_(flushEach) {}
  void onLog(const std::string& w, const std::string& line) override;

 private:
  std::ostream& out_;
  std::string window_;
  bool flush_;
};

// What a person likes to read: the log lines of every window and the new lines of the ECU info
// pane as they come.
class ReadableWriter : public EventSink {
 public:
  ReadableWriter(std::ostream& out, bool flushEach) : out_(out), flush_(flushEach) {}
  void onEvent(const SessionEvent& e) override;
  void onLog(const std::string& w, const std::string& line) override;

 private:
  std::ostream& out_;
  bool flush_;
};

}  // namespace kline
