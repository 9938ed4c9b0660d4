#include "session/sessionreport.h"

#include <sstream>

#include "livedata/conversions.h"
#include "serial/text.h"

namespace kline {

namespace {

const char* kindTitle(ReadoutKind k) {
  switch (k) {
    case ReadoutKind::Faults:
      return "Fault readout";
    case ReadoutKind::Immobiliser:
      return "Immobiliser state";
    case ReadoutKind::Immobiliser2:
      return "Immobiliser state 2";
    case ReadoutKind::Diag:
      return "Diag";
  }
  return "";
}

}  // namespace

std::string HtmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void SessionReport::onEvent(const SessionEvent& e) {
  if (const auto* c = std::get_if<ev::Connecting>(&e)) {
    port_ = Trim(c->port);
    identity_ = ev::EcuIdentified{};
    identity_.ecu = c->ecu;
  } else if (const auto* id = std::get_if<ev::EcuIdentified>(&e)) {
    identity_ = *id;
  } else if (const auto* cycle = std::get_if<ev::LiveCycle>(&e)) {
    channels_.add(*cycle);
  } else if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) {
    if (r->readout.kind != ReadoutKind::Diag) setReadout(r->readout, now_ ? now_() : "");
  } else if (const auto* t = std::get_if<ev::TrimmerSet>(&e)) {
    changes_.push_back({true, t->before, t->after, now_ ? now_() : ""});
  } else if (const auto* co = std::get_if<ev::CoRegulationSet>(&e)) {
    changes_.push_back({false, co->before ? 1 : 0, co->after ? 1 : 0, now_ ? now_() : ""});
  } else if (const auto* t = std::get_if<ev::TestStarted>(&e)) {
    tests_.push_back({t->window, Trim(t->name), ev::Verdict::Unknown, false, {}});
  } else if (const auto* t = std::get_if<ev::TestEnded>(&e)) {
    if (!tests_.empty() && !tests_.back().ended && tests_.back().window == t->window) {
      tests_.back().verdict = t->verdict;
      tests_.back().shown = t->shown;
      tests_.back().ended = true;
    }
  }
}

void SessionReport::setReadout(const Readout& r, std::string when) {
  readouts_[static_cast<std::size_t>(r.kind)] = r;
  when_[static_cast<std::size_t>(r.kind)] = std::move(when);
}

std::vector<ChannelSummary> SessionReport::channels() const {
  return givenChannels_ ? *givenChannels_ : channels_.summaries();
}

namespace {

const char* const kUntrusted =
    "Not trustworthy: the line carried bytes nobody asked for (another device on the K-line, or "
    "the wrong adapter or rate) while it read";

}  // namespace

std::string SessionReport::html(const std::string& dateTime) const {
  std::ostringstream h;
  auto e = [](const std::string& s) { return HtmlEscape(s); };
  auto orDash = [&](const std::string& s) { return s.empty() ? std::string("&ndash;") : e(s); };
  h << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>klinediag session report"
       "</title>\n<style>body{font-family:sans-serif;font-size:10pt}"
       "table{border-collapse:collapse}td,th{border:1px solid #999;padding:2px 6px;"
       "text-align:left}th{background:#e8e8e8}.fault{color:#b00000;font-weight:bold}"
       ".ok{color:#006000}.num{text-align:right}</style></head><body>\n";
  h << "<h2>klinediag session report</h2>\n<table>\n";
  const std::pair<const char*, std::string> facts[] = {{"Date", dateTime},
                                                       {"Port", port_},
                                                       {"ECU type", identity_.ecu},
                                                       {"Iso code", identity_.isoCode},
                                                       {"Identification", identity_.identification},
                                                       {"Calibration", identity_.calibration}};
  for (const auto& [k, v] : facts)
    h << "<tr><th>" << k << "</th><td>" << orDash(v) << "</td></tr>\n";
  if (bike_) {
    const std::pair<const char*, std::string> bike[] = {
        {"Bike", bike_->name},
        {"Registration", bike_->registration},
        {"Owner", bike_->owner},
        {"Mileage", bike_->mileageKm ? std::to_string(*bike_->mileageKm) + " km" : ""}};
    for (const auto& [k, v] : bike)
      h << "<tr><th>" << k << "</th><td>" << orDash(v) << "</td></tr>\n";
  }
  h << "</table>\n";
  if (!identity_.trusted)
    h << "<p class=\"fault\">&#9888; " << kUntrusted << " the identification.</p>\n";

  for (ReadoutKind k : {ReadoutKind::Faults, ReadoutKind::Immobiliser, ReadoutKind::Immobiliser2}) {
    const auto& r = readout(k);
    h << "<h3>" << kindTitle(k);
    if (r) h << " (" << e(when_[static_cast<std::size_t>(k)]) << ")";
    h << "</h3>\n";
    if (!r) {
      h << "<p>Not read in this session.</p>\n";
      continue;
    }
    if (!r->trusted) h << "<p class=\"fault\">&#9888; " << kUntrusted << " this readout.</p>\n";
    // Off a babbling line, a line without a fault proves nothing.
    const char* clean = r->trusted ? "ok\">&#10003; OK" : "fault\">? not trustworthy";
    if (r->lines.empty())
      h << "<p class=\"" << (r->trusted ? "ok\">&#10003;" : "fault\">?")
        << " No state bit set.</p>\n";
    if (k == ReadoutKind::Faults && r->faultStored && !r->anyFaultLine())
      h << "<p class=\"fault\">&#9888; The fault bytes name a fault that no line shows.</p>\n";
    if (!r->lines.empty()) h << "<table>\n";
    for (std::size_t i = 0; i < r->lines.size(); ++i) {
      const bool f = i < r->fault.size() && r->fault[i];
      h << "<tr><td class=\"" << (f ? "fault\">&#9888; FAULT" : clean) << "</td><td"
        << (f ? " class=\"fault\"" : "") << ">" << e(Trim(r->lines[i])) << "</td></tr>\n";
    }
    if (!r->lines.empty()) h << "</table>\n";
  }

  h << "<h3>Tests</h3>\n";
  if (tests_.empty()) {
    h << "<p>No test run in this session.</p>\n";
  } else {
    h << "<table>\n<tr><th>Test</th><th>Window</th><th>Verdict</th></tr>\n";
    for (const TestRun& t : tests_) {
      const char* cls = t.verdict == ev::Verdict::Passed ? "ok" : "fault";
      const char* where = t.window == "Form1" ? "Tests" : "main window";
      std::string verdict = !t.ended                              ? "no verdict yet"
                            : t.verdict == ev::Verdict::Cancelled ? "stopped by Back"
                            : t.shown.empty()                     ? "no verdict"
                                                                  : e(t.shown);
      h << "<tr><td>" << orDash(t.name) << "</td><td>" << where << "</td><td class=\"" << cls
        << "\">" << verdict << "</td></tr>\n";
    }
    h << "</table>\n";
  }

  h << "<h3>Trimmer and CO regulation</h3>\n";
  if (changes_.empty()) {
    h << "<p>Not changed in this session.</p>\n";
  } else {
    h << "<table>\n<tr><th>Setting</th><th>Before</th><th>After</th><th>Time</th></tr>\n";
    // The trimmer as the live channel reads it, with the byte that went on the line.
    auto value = [](const SettingChange& c, int v) -> std::string {
      if (c.trimmer || v < 0) return TrimmerSetText(v);
      return v ? "on" : "off";
    };
    for (const SettingChange& c : changes_)
      h << "<tr><td>" << (c.trimmer ? "Trimmer" : "CO regulation") << "</td><td>"
        << value(c, c.before) << "</td><td>" << value(c, c.after) << "</td><td>" << orDash(c.when)
        << "</td></tr>\n";
    h << "</table>\n";
  }

  h << "<h3>Live channels</h3>\n";
  const auto stats = channels();
  if (stats.empty()) {
    h << "<p>No completed live cycle in this session.</p>\n";
  } else {
    h << "<table>\n<tr><th>Channel</th><th>Unit</th><th>Min</th><th>Max</th><th>Mean</th>"
         "<th>Cycles</th></tr>\n";
    for (const ChannelSummary& s : stats)
      h << "<tr><td>" << orDash(s.name) << "</td><td>" << e(s.unit) << "</td><td class=\"num\">"
        << e(s.minText) << "</td><td class=\"num\">" << e(s.maxText) << "</td><td class=\"num\">"
        << e(s.meanText) << "</td><td class=\"num\">" << s.count << "</td></tr>\n";
    h << "</table>\n";
  }
  h << "</body></html>\n";
  return h.str();
}

}  // namespace kline
