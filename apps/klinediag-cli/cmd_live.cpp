// The live subcommand: one line per completed live cycle the session published, as a table,
// as a recording (--format csv) or as JSON Lines.
#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "livedata/channels.h"
#include "livedata/csvrecorder.h"
#include "session/eventjsonlines.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

using nlohmann::json;

const Example kLiveExamples[] = {
    {"klinediag-cli live --port sim --count 20", "Twenty cycles of live values as a table."},
    {"klinediag-cli live --port sim --virtual-time --count 20 --format csv > l.csv",
     "A recording, which 'klinediag-cli --replay l.csv' and the window's chart read."},
    {"klinediag-cli live --port /dev/ttyUSB0 --ecu 16m --format json",
     "One JSON line per cycle until Ctrl+C."},
};

// A channel's value as a JSON number (a whole one without a fraction); null when the field
// holds none.
json number(const std::optional<double>& v) {
  if (!v) return nullptr;
  if (std::trunc(*v) == *v && std::fabs(*v) < 1e15) return static_cast<int64_t>(*v);
  return *v;
}

class LiveJob : public SessionJob {
 public:
  LiveJob(const JobOptions& o, std::ostream& out) : format_(o.format), count_(o.count), out_(out) {}

  std::string prepare(CliSession& s) override {
    session_ = &s;
    return {};
  }

  bool step(CliSession& /*s*/) override { return count_ && rows_ >= *count_; }

  int print(const std::string& device, std::ostream& /*out*/, std::ostream& err) override {
    if (rows_ > 0) return 0;
    err << "klinediag-cli: no live cycle completed on " << device << "\n";
    return 1;
  }

  bool endsOnInterrupt() const override { return true; }

 protected:
  void on(const SessionEvent& e) override {
    const auto* c = std::get_if<ev::LiveCycle>(&e);
    if (!c || !c->completed || (count_ && rows_ >= *count_)) return;
    ++rows_;
    session_->progress();
    if (rows_ == 1) header(*c);
    if (format_ == "csv") {
      // A row of the recording, as CsvRecorder writes it.
      out_ << c->lineMs << "," << CsvRecorder::IsoTime(c->wall);
      for (const ev::ChannelReading& r : c->channels) out_ << "," << CsvRecorder::Number(r.text);
    } else if (format_ == "table") {
      out_ << PadLeft(std::to_string(c->lineMs), 8);
      for (std::size_t i = 0; i < shown_.size(); ++i)
        out_ << "  " << PadLeft(c->channels[shown_[i]].text, widths_[i]);
    } else {
      json j = {{"t_ms", session_->clock()()}, {"ecu", ecu_}};
      json values = json::array();
      for (std::size_t i : shown_) {
        const ev::ChannelReading& r = c->channels[i];
        // The number, and the window's own writing of it (".62", "----"), as the events carry.
        values.push_back({{"name", LiveChannels()[i].name},
                          {"value", number(r.value)},
                          {"unit", LiveChannels()[i].unit},
                          {"text", JsonTrimmed(r.text)}});
      }
      j["channels"] = values;
      out_ << j.dump();
    }
    out_ << "\n";
    if (!session_->virtualTime()) out_.flush();
    // A reader that went away (`| head -2`) ends the run: the session disconnects and the visit
    // ends in the records.
    if (!out_) session_->outputClosed();
  }

 private:
  // The channels shown at the first cycle; the header line of the table or the recording.
  void header(const ev::LiveCycle& c) {
    for (std::size_t i = 0; i < c.channels.size(); ++i)
      if (c.channels[i].ticked) shown_.push_back(i);
    if (format_ == "csv") {
      out_ << RecordingHeader() << "\n";
    } else if (format_ == "table") {
      out_ << PadLeft("ms", 8);
      for (std::size_t i : shown_) {
        const LiveChannel& ch = LiveChannels()[i];
        const std::string h = *ch.unit ? std::string(ch.name) + " " + ch.unit : ch.name;
        widths_.push_back(std::max<std::size_t>(Columns(h), 6));
        out_ << "  " << PadLeft(h, widths_.back());
      }
      out_ << "\n";
    }
  }

  std::string format_;
  std::optional<uint64_t> count_;
  std::ostream& out_;
  CliSession* session_ = nullptr;
  uint64_t rows_ = 0;
  std::vector<std::size_t> shown_;
  std::vector<std::size_t> widths_;
};

}  // namespace

std::unique_ptr<SessionJob> MakeLiveJob(const JobOptions& o, std::ostream& out) {
  return std::make_unique<LiveJob>(o, out);
}

std::unique_ptr<Command> AddLive(CLI::App& program, GlobalOptions& global) {
  auto live = std::make_unique<SessionCommand>(
      program, global, "live", "Connect and print the live values, one line per cycle",
      kLiveExamples, [&global](JobOptions o, std::ostream& out) {
        // On virtual time a run without a count would not end.
        if (!o.count && global.virtualTime) o.count = 10;
        return MakeLiveJob(o, out);
      });
  JobOptions& o = live->options();
  live->app()
      .add_option("--count", o.count, "Stop after N cycles (default: Ctrl+C; 10 on virtual time)")
      ->check(WholeNumberIn(1, 1000000000));
  live->app()
      .add_option("--format", o.format,
                  "table, csv (as a --csv recording, which --replay reads) or json (JSON Lines; "
                  "as --json)")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  return live;
}

}  // namespace kline
