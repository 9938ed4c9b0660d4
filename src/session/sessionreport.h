#pragma once

// The data of a one-page session report and its HTML: what the main window showed about the
// ECU, the latest fault and immobiliser readouts, the tests run and the live channels' range.
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/faultwatch.h"
#include "livedata/channelstats.h"
#include "ui/eventsink.h"

namespace kline {

struct TestRun {
  std::string window;  // "Form2" (the main window's list) or "Form1" (the test window)
  std::string name;
  ev::Verdict verdict = ev::Verdict::Unknown;
  bool ended = false;
  std::string shown;  // the verdict as the window showed it ("OK", "Test finish"...)
};

// The bike as the records know it, for the head of the report.
struct ReportBike {
  std::string name, registration, owner;
  std::optional<int> mileageKm;  // typed for this visit
};

// The trimmer or the CO regulation set during the session, as the ECU confirmed it.
struct SettingChange {
  bool trimmer = true;
  int before = -1;  // the trimmer: the byte (-1 unknown); CO regulation: 0 off, 1 on
  int after = 0;
  std::string when;  // the time to print for it
};

// Gathers a session's report from its events: the port and ECU type of the connection, the
// identification, the tests of both windows with their verdicts, the latest fault and
// immobiliser readouts, and each ticked channel's range over the completed live cycles (values
// that are not numbers are left out). Session thread, or any one thread that feeds it.
class SessionReport : public EventSink {
 public:
  // `now` gives the time printed beside a readout ("16:20:31"); none prints no time.
  explicit SessionReport(std::function<std::string()> now = {}) : now_(std::move(now)) {}

  void onEvent(const SessionEvent& e) override;
  // The latest readout of its kind, with the time to print for it.
  void setReadout(const Readout& r, std::string when);
  // The channels' ranges as kept elsewhere (a stored visit), in place of the live cycles'.
  void setChannels(std::vector<ChannelSummary> stats) { givenChannels_ = std::move(stats); }
  // The bike the records know this visit as (none: the report names no bike).
  void setBike(std::optional<ReportBike> bike) { bike_ = std::move(bike); }
  // A change of the trimmer or the CO regulation (a stored visit's; a session's come as events).
  void addChange(SettingChange c) { changes_.push_back(std::move(c)); }
  const std::vector<SettingChange>& changes() const { return changes_; }

  const std::string& port() const { return port_; }
  const std::string& ecuType() const { return identity_.ecu; }
  const ev::EcuIdentified& identity() const { return identity_; }
  const std::vector<TestRun>& tests() const { return tests_; }
  // Each channel with a number in a completed cycle: its range and mean, as written and as
  // numbers.
  std::vector<ChannelSummary> channels() const;
  const std::optional<Readout>& readout(ReadoutKind k) const {
    return readouts_[static_cast<std::size_t>(k)];
  }

  // The whole report as one HTML page; `dateTime` is printed as its date.
  std::string html(const std::string& dateTime) const;

 private:
  std::function<std::string()> now_;
  std::string port_;
  ev::EcuIdentified identity_;
  std::vector<TestRun> tests_;
  ChannelStats channels_;
  std::array<std::optional<Readout>, 3> readouts_{};
  std::array<std::string, 3> when_{};
  std::optional<std::vector<ChannelSummary>> givenChannels_;
  std::optional<ReportBike> bike_;
  std::vector<SettingChange> changes_;
};

// Text made safe inside HTML.
std::string HtmlEscape(const std::string& s);

}  // namespace kline
