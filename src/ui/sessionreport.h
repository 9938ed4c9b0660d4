#pragma once

// The data of a one-page session report and its HTML: what the main window showed about the
// ECU, the latest fault and immobiliser readouts, the tests run and the live channels' range.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/faultwatch.h"
#include "ui/eventsink.h"

namespace kline {

// One live channel over the session: the smallest and largest value as the window wrote them
// and the mean with as many decimals as the most precise of them.
struct ChannelStats {
  int index = 0;
  std::string name, unit;
  std::size_t count = 0;
  std::string min, max, mean;
};

struct TestRun {
  std::string name;
  std::string verdict;  // "OK", "Erreur", or empty while none came
};

// Observes the main window's control writes (Form2): port, ECU type, ECU info pane, test list
// and verdict, the live value fields. cycleCompleted() after each completed live cycle adds the
// ticked channels' values to their statistics; values that are not numbers are left out.
class SessionReport : public EventSink {
 public:
  void onSet(const std::string& win, const std::string& ctl, Prop prop,
             const PropValue& value) override;
  void cycleCompleted();
  // The latest readout of its kind, with the time to print for it.
  void setReadout(const Readout& r, std::string when);

  const std::string& port() const { return port_; }
  const std::string& ecuType() const { return ecuType_; }
  // The value after "label :" of the info pane's line starting with `label`; empty if none.
  std::string infoValue(const std::string& label) const;
  std::vector<std::string> infoLines() const;
  const std::vector<TestRun>& tests() const { return tests_; }
  std::vector<ChannelStats> channels() const;
  const std::optional<Readout>& readout(ReadoutKind k) const {
    return readouts_[static_cast<std::size_t>(k)];
  }

  // The whole report as one HTML page; `dateTime` is printed as its date.
  std::string html(const std::string& dateTime) const;

 private:
  struct Channel {
    std::string name, unit, text;
    bool ticked = false;
    std::size_t count = 0;
    double sum = 0, min = 0, max = 0;
    std::string minText, maxText;
    int decimals = 0;
    char point = '.';
  };

  std::string port_, ecuType_, info_;
  std::vector<std::string> items_;
  int selected_ = -1;
  std::vector<TestRun> tests_;
  std::array<Channel, 9> channels_{};
  std::array<std::optional<Readout>, 3> readouts_{};
  std::array<std::string, 3> when_{};
};

// Text made safe inside HTML.
std::string HtmlEscape(const std::string& s);

}  // namespace kline
