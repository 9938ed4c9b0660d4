#include "ui/sessionreport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "ui/numbers.h"

namespace kline {

namespace {

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r\n");
  auto e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// "Text1(3)" -> 3 for `base` "Text1"; -1 otherwise.
int indexOf(const std::string& ctl, const char* base) {
  const std::string b = std::string(base) + "(";
  if (ctl.rfind(b, 0) != 0 || ctl.size() != b.size() + 2 || ctl.back() != ')') return -1;
  char d = ctl[b.size()];
  return d >= '0' && d <= '8' ? d - '0' : -1;
}

const std::string* text(const PropValue& v) {
  return std::get_if<std::string>(&v);
}

int number(const PropValue& v) {
  if (const int* i = std::get_if<int>(&v)) return *i;
  if (const bool* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  return 0;
}

// The decimals a value field shows and its decimal mark, for writing the mean alike.
int decimalsOf(const std::string& text, char& point) {
  const std::size_t p = text.find_first_of(".,");
  if (p == std::string::npos) return 0;
  point = text[p];
  int n = 0;
  for (std::size_t i = p + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++n;
  return n;
}

const char* kindTitle(ReadoutKind k) {
  switch (k) {
    case ReadoutKind::Faults:
      return "Fault readout";
    case ReadoutKind::Immobiliser:
      return "Immobiliser state";
    case ReadoutKind::Immobiliser2:
      return "Immobiliser state 2";
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

void SessionReport::onSet(const std::string& win, const std::string& ctl, Prop prop,
                          const PropValue& value) {
  if (win != "Form2") return;
  static const struct {
    const char* name;
    const char* type;
  } kTypes[] = {{"Option1", "15m"},
                {"Option9", "15Rc"},
                {"Option7", "16m"},
                {"Option2", "P8"},
                {"Option8", "P8 (sensor by sensor)"}};
  if (prop == Prop::Text && ctl == "Text6" && text(value)) port_ = trim(*text(value));
  if (prop == Prop::Text && ctl == "Text4" && text(value)) info_ = *text(value);
  if (prop == Prop::Value)
    for (const auto& t : kTypes)
      if (ctl == t.name && number(value)) ecuType_ = t.type;
  if (ctl == "List1") {
    if (prop == Prop::Items)
      if (const auto* items = std::get_if<std::vector<std::string>>(&value)) items_ = *items;
    if (prop == Prop::Value) selected_ = number(value);
    // The list is greyed while a test waits for its verdict.
    if (prop == Prop::Enabled && !number(value)) {
      const bool known = selected_ >= 0 && static_cast<std::size_t>(selected_) < items_.size();
      tests_.push_back({known ? items_[static_cast<std::size_t>(selected_)] : std::string(), ""});
    }
  }
  if (ctl == "Label5" && prop == Prop::Caption && text(value) && !tests_.empty() &&
      tests_.back().verdict.empty() && (*text(value) == "OK" || *text(value) == "Erreur"))
    tests_.back().verdict = *text(value);
  int i = -1;
  if ((i = indexOf(ctl, "Text1")) >= 0 && prop == Prop::Text && text(value))
    channels_[static_cast<std::size_t>(i)].text = *text(value);
  if ((i = indexOf(ctl, "Check1")) >= 0) {
    if (prop == Prop::Caption && text(value))
      channels_[static_cast<std::size_t>(i)].name = *text(value);
    if (prop == Prop::Value) channels_[static_cast<std::size_t>(i)].ticked = number(value) == 1;
  }
  if ((i = indexOf(ctl, "Label3")) >= 0 && prop == Prop::Caption && text(value))
    channels_[static_cast<std::size_t>(i)].unit = *text(value);
}

void SessionReport::cycleCompleted() {
  for (Channel& c : channels_) {
    if (!c.ticked) continue;
    const std::optional<double> v = FieldValue(c.text);
    if (!v) continue;
    char point = c.point;
    const int decimals = decimalsOf(c.text, point);
    if (c.count == 0 || *v < c.min) {
      c.min = *v;
      c.minText = trim(c.text);
    }
    if (c.count == 0 || *v > c.max) {
      c.max = *v;
      c.maxText = trim(c.text);
    }
    c.sum += *v;
    ++c.count;
    if (decimals > c.decimals) c.decimals = decimals;
    if (decimals > 0) c.point = point;
  }
}

void SessionReport::setReadout(const Readout& r, std::string when) {
  readouts_[static_cast<std::size_t>(r.kind)] = r;
  when_[static_cast<std::size_t>(r.kind)] = std::move(when);
}

std::vector<std::string> SessionReport::infoLines() const {
  std::vector<std::string> out;
  std::istringstream in(info_);
  std::string l;
  while (std::getline(in, l)) {
    l = trim(l);
    if (!l.empty()) out.push_back(l);
  }
  return out;
}

std::string SessionReport::infoValue(const std::string& label) const {
  for (const auto& l : infoLines())
    if (l.rfind(label, 0) == 0) {
      auto colon = l.find(':');
      return colon == std::string::npos ? std::string() : trim(l.substr(colon + 1));
    }
  return {};
}

std::vector<ChannelStats> SessionReport::channels() const {
  std::vector<ChannelStats> out;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const Channel& c = channels_[i];
    if (c.count == 0) continue;
    ChannelStats s{
        static_cast<int>(i), trim(c.name), trim(c.unit), c.count, c.minText, c.maxText, {}};
    char buf[64];
    double mean = c.sum / static_cast<double>(c.count);
    std::snprintf(buf, sizeof buf, "%.*f", c.decimals, mean);
    s.mean = buf;
    if (s.mean == "-0" || s.mean.find_first_not_of("-0.") == std::string::npos)
      if (s.mean[0] == '-') s.mean.erase(0, 1);
    if (c.point != '.')
      for (char& ch : s.mean)
        if (ch == '.') ch = c.point;
    out.push_back(std::move(s));
  }
  return out;
}

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
                                                       {"ECU type", ecuType_},
                                                       {"Iso code", infoValue("Iso Code")},
                                                       {"Identification", infoValue("ecu data")},
                                                       {"Calibration", infoValue("calibration")}};
  for (const auto& [k, v] : facts)
    h << "<tr><th>" << k << "</th><td>" << orDash(v) << "</td></tr>\n";
  h << "</table>\n";

  for (ReadoutKind k : {ReadoutKind::Faults, ReadoutKind::Immobiliser, ReadoutKind::Immobiliser2}) {
    const auto& r = readout(k);
    h << "<h3>" << kindTitle(k);
    if (r) h << " (" << e(when_[static_cast<std::size_t>(k)]) << ")";
    h << "</h3>\n";
    if (!r) {
      h << "<p>Not read in this session.</p>\n";
      continue;
    }
    if (r->lines.empty()) h << "<p class=\"ok\">&#10003; No state bit set.</p>\n";
    if (k == ReadoutKind::Faults && r->faultStored && !r->anyFaultLine())
      h << "<p class=\"fault\">&#9888; The fault bytes name a fault that no line shows.</p>\n";
    if (!r->lines.empty()) h << "<table>\n";
    for (std::size_t i = 0; i < r->lines.size(); ++i) {
      const bool f = i < r->fault.size() && r->fault[i];
      h << "<tr><td class=\"" << (f ? "fault\">&#9888; FAULT" : "ok\">&#10003; OK") << "</td><td"
        << (f ? " class=\"fault\"" : "") << ">" << e(trim(r->lines[i])) << "</td></tr>\n";
    }
    if (!r->lines.empty()) h << "</table>\n";
  }

  h << "<h3>Tests</h3>\n";
  if (tests_.empty()) {
    h << "<p>No test run in this session.</p>\n";
  } else {
    h << "<table>\n<tr><th>Test</th><th>Verdict</th></tr>\n";
    for (const TestRun& t : tests_) {
      const char* cls = t.verdict == "OK" ? "ok" : "fault";
      h << "<tr><td>" << orDash(t.name) << "</td><td class=\"" << cls << "\">"
        << (t.verdict.empty() ? std::string("no verdict") : e(t.verdict)) << "</td></tr>\n";
    }
    h << "</table>\n";
  }

  h << "<h3>Live channels</h3>\n";
  const auto stats = channels();
  if (stats.empty()) {
    h << "<p>No completed live cycle in this session.</p>\n";
  } else {
    h << "<table>\n<tr><th>Channel</th><th>Unit</th><th>Min</th><th>Max</th><th>Mean</th>"
         "<th>Cycles</th></tr>\n";
    for (const ChannelStats& s : stats)
      h << "<tr><td>" << orDash(s.name) << "</td><td>" << e(s.unit) << "</td><td class=\"num\">"
        << e(s.min) << "</td><td class=\"num\">" << e(s.max) << "</td><td class=\"num\">"
        << e(s.mean) << "</td><td class=\"num\">" << s.count << "</td></tr>\n";
    h << "</table>\n";
  }
  h << "</body></html>\n";
  return h.str();
}

}  // namespace kline
