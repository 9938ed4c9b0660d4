// What the session thread (and the records' keeper) tell the window, through the one channel:
// control writes, log lines, typed events, and the signals read off the events on the GUI
// thread.
#include "gui/session/session.h"
#include "platform/portlist.h"
#include "serial/text.h"
#include "session/sessioncore.h"

namespace {

QString fromStd(const std::string& s) {
  return QString::fromStdString(s);
}

QVariant toVariant(const kline::PropValue& v) {
  if (const bool* b = std::get_if<bool>(&v)) return QVariant(*b);
  if (const int* i = std::get_if<int>(&v)) return QVariant(*i);
  if (const std::string* s = std::get_if<std::string>(&v))
    return QVariant(QString::fromStdString(*s));
  QStringList list;
  for (const auto& s : std::get<std::vector<std::string>>(v)) list << QString::fromStdString(s);
  return QVariant(list);
}

}  // namespace

// Runs on the session thread; everything goes to the window through the channel.
class Session::Sink : public kline::EventSink {
 public:
  explicit Sink(Session* s) : s_(s) {}
  void onSet(const std::string& win, const std::string& ctl, kline::Prop prop,
             const kline::PropValue& value) override {
    s_->toWindow([s = s_, win = fromStd(win), ctl = fromStd(ctl), prop, v = toVariant(value)] {
      emit s->controlSet(win, ctl, static_cast<int>(prop), v);
    });
  }
  void onLog(const std::string& win, const std::string& line) override {
    s_->toWindow(
        [s = s_, win = fromStd(win), line = fromStd(line)] { emit s->logLine(win, line); });
  }
  void onNotice(const std::string& text) override {
    s_->toWindow([s = s_, text = fromStd(text)] { emit s->notice(text); });
  }
  void onEvent(const kline::SessionEvent& e) override { s_->onEventOnThread(e); }

 private:
  Session* s_;
};

std::unique_ptr<kline::EventSink> Session::makeSink() {
  return std::make_unique<Sink>(this);
}

// What the records' keeper tells, from its own thread.
kline::records::KeeperOptions Session::recordsOptions() {
  kline::records::KeeperOptions o;
  o.adapterOf = kline::PortList::AdapterOf;
  o.wallClock = kline::CsvRecorder::SystemTime;
  o.onProblem = [this](const std::string& why) {
    toWindow([this, why = fromStd(why)] { emit recordsProblem(why); });
  };
  o.onVisit = [this](int64_t bike, int64_t visit) {
    toWindow([this, bike, visit] { emit recordsVisit(bike, visit); });
  };
  o.onBikeNews = [this](const kline::records::BikeNews& n) {
    const std::string& name =
        n.bike.details.name.empty() ? n.bike.key.identification : n.bike.details.name;
    const bool seenBefore = n.previousVisit != 0;
    toWindow([this, text = fromStd(n.text), name = fromStd(kline::Trim(name)), bike = n.bike.id,
              prev = n.previousVisit, visit = n.visit, seenBefore] {
      emit bikeNews(text, name);
      if (seenBefore) emit knownBike(text, bike, prev, visit);
    });
  };
  return o;
}

// What the session thread knows beside a live cycle when it happens: the pace, and how the
// recording took it.
struct Session::CycleNews {
  QString pace;
  QString recordingFailed;
  int recordedRows = -1;  // when it changed
};

void Session::onEventOnThread(const kline::SessionEvent& e) {
  CycleNews news;
  if (std::holds_alternative<kline::ev::LiveCycle>(e)) {
    news.pace = fromStd(core_->meter().text());
    // The recording has written its row by now (the core hands it the cycle first).
    news.recordingFailed = fromStd(core_->takeRecordingError());
    if (!news.recordingFailed.isEmpty()) {
      recordedRows_ = -1;
    } else if (core_->recording() && core_->recorder()->rows() != recordedRows_) {
      recordedRows_ = core_->recorder()->rows();
      news.recordedRows = recordedRows_;
    }
  }
  toWindow([this, e, news] {
    emit sessionEvent(e);
    derive(e, news);
  });
}

void Session::derive(const kline::SessionEvent& e, const CycleNews& news) {
  using namespace kline;
  if (const auto* l = std::get_if<ev::LinkChanged>(&e)) {
    const LinkStatus& s = l->status;
    const bool heard = s.state == LinkState::Live || s.valuesStale;
    emit linkChanged(static_cast<int>(s.state), fromStd(s.text), s.valuesStale, s.rpmStale, heard);
  } else if (const auto* c = std::get_if<ev::LiveCycle>(&e)) {
    if (!c->completed) {
      emit liveBreak();
    } else {
      emit cyclesMeasured(news.pace);
      LiveValues values;
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = c->channels[i].value;
      emit liveCycle(c->lineMs, values);
    }
    if (!news.recordingFailed.isEmpty()) emit recordingFailed(news.recordingFailed);
    if (news.recordedRows >= 0) emit recordingRows(news.recordedRows);
  } else if (const auto* p = std::get_if<ev::LoopPaused>(&e)) {
    if (p->paused) emit liveBreak();
  } else if (std::holds_alternative<ev::Connecting>(e)) {
    emit liveBreak();
  } else if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) {
    if (r->readout.kind == ReadoutKind::Diag) return;
    QStringList lines;
    for (const auto& l : r->readout.lines) lines << fromStd(l);
    emit faultReadout(static_cast<int>(r->readout.kind), lines,
                      QList<bool>(r->readout.fault.begin(), r->readout.fault.end()),
                      r->readout.faultStored, r->readout.trusted);
  }
}
