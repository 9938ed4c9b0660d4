#include "records/recordkeeper.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "livedata/channelstats.h"
#include "livedata/csvrecorder.h"
#include "serial/text.h"

namespace kline::records {

namespace {

// What the session thread hands the keeper's thread, in the order it happened.
struct StartOp {
  BikeKey key;
  VisitStart start;
};
struct KeyOp {
  BikeKey key;
};
struct EndOp {
  WallTime at;
};
struct MileageOp {
  std::optional<int> km;
};
using ChannelsOp = std::vector<ChannelSummary>;
using Op = std::variant<StartOp, KeyOp, EndOp, MileageOp, ReadoutRecord, TestRecord, ChangeRecord,
                        FileRecord, ChannelsOp>;

// The longest a visit's news wait before they are written: what a kill may lose.
constexpr std::chrono::milliseconds kPeriod{500};

bool sameKey(const BikeKey& a, const BikeKey& b) {
  return a.ecu == b.ecu && a.isoCode == b.isoCode && a.identification == b.identification &&
         a.calibration == b.calibration;
}

}  // namespace

namespace {

// A bike in a line to the user: its name, else its identification.
std::string BikeShown(const Bike& b) {
  return Trim(b.details.name.empty() ? b.key.identification : b.details.name);
}

}  // namespace

std::string KnownBikeText(const Bike& b) {
  const std::string name = BikeShown(b);
  const std::string faults = b.lastFaults < 0    ? "faults not read then"
                             : b.lastFaults == 0 ? "no faults then"
                             : b.lastFaults == 1 ? "1 fault then"
                                                 : std::to_string(b.lastFaults) + " faults then";
  return "Known bike: " + name + " \u2014 last visit " + WallTimeText(b.lastStart, "%Y-%m-%d") +
         ", " + faults;
}

std::string NewBikeText(const Bike& b) {
  return "New bike: " + BikeShown(b);
}

std::string SameVisitText(const Bike& b, WallTime begun) {
  return "Same visit as before: " + BikeShown(b) + " (since " + WallTimeText(begun, "%H:%M") + ")";
}

struct RecordKeeper::Impl {
  explicit Impl(KeeperOptions o) : options(std::move(o)) {
    if (!options.wallClock) options.wallClock = CsvRecorder::SystemTime;
  }

  WallTime now() const { return options.wallClock(); }
  void push(Op op) {
    std::lock_guard lock(m);
    if (failed) return;
    queue.push_back(std::move(op));
  }

  // Session thread.
  void event(const SessionEvent& e);
  void startVisit(const ev::EcuIdentified& id);
  void endVisit();

  // The keeper's thread.
  void run();
  bool apply(const Op& op, std::vector<std::function<void()>>& after);
  void fail(const std::string& why);

  KeeperOptions options;

  // The session thread's view of the connection.
  bool armed = false;    // Connect was pressed and no visit began yet
  bool inVisit = false;  // a visit is in progress
  std::string port, ecu;
  BikeKey key;
  std::vector<Op> early;  // what came between Connect and the identification
  std::vector<std::pair<ev::TestStarted, WallTime>> running;  // a test per window

  // Shared with the keeper's thread under `m`.
  std::mutex m;
  std::condition_variable wake, written;
  std::vector<Op> queue;
  ChannelStats live;  // the connection's completed cycles, as the report sums them
  bool liveDirty = false;
  bool liveInVisit = false;
  uint64_t asked = 0, done = 0;
  bool stop = false;
  bool failed = false;

  std::atomic<int64_t> visit{0};
  std::atomic<bool> working{true};

  // The keeper's thread only.
  std::unique_ptr<RecordStore> store;
  int64_t current = 0, last = 0;
  // The live channels the visit in progress had before this connection joined it.
  std::vector<ChannelSummary> joined;
  std::optional<int> nextMileage;
  std::vector<FileRecord> nextFiles;

  std::thread thread;
};

void RecordKeeper::Impl::event(const SessionEvent& e) {
  if (const auto* c = std::get_if<ev::LiveCycle>(&e)) {
    if (!c->completed) return;
    std::lock_guard lock(m);
    live.add(*c);
    liveDirty = liveInVisit;
  } else if (const auto* c = std::get_if<ev::Connecting>(&e)) {
    endVisit();
    armed = true;
    port = c->port;
    ecu = c->ecu;
    early.clear();
    running.clear();
    std::lock_guard lock(m);
    live = ChannelStats();
    liveDirty = false;
  } else if (const auto* id = std::get_if<ev::EcuIdentified>(&e)) {
    BikeKey k{id->ecu.empty() ? ecu : id->ecu, id->isoCode, id->identification, id->calibration};
    if (armed && !id->identification.empty()) {
      key = std::move(k);
      startVisit(*id);
    } else if (inVisit && !id->identification.empty() && !sameKey(k, key)) {
      key = k;
      push(KeyOp{std::move(k)});
    }
  } else if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) {
    ReadoutRecord rec{r->readout, now()};
    if (inVisit)
      push(std::move(rec));
    else if (armed)
      early.emplace_back(std::move(rec));
  } else if (const auto* t = std::get_if<ev::TestStarted>(&e)) {
    std::erase_if(running, [&](const auto& r) { return r.first.window == t->window; });
    running.emplace_back(*t, now());
  } else if (const auto* t = std::get_if<ev::TestEnded>(&e)) {
    for (auto it = running.begin(); it != running.end(); ++it) {
      if (it->first.window != t->window) continue;
      TestRecord rec{t->window, it->first.name, it->first.code, t->verdict, t->shown, now()};
      running.erase(it);
      if (inVisit)
        push(std::move(rec));
      else if (armed)
        early.emplace_back(std::move(rec));
      break;
    }
  } else if (const auto* t = std::get_if<ev::TrimmerSet>(&e)) {
    ChangeRecord rec{Setting::Trimmer, t->before, t->after, now()};
    if (inVisit)
      push(rec);
    else if (armed)
      early.emplace_back(rec);
  } else if (const auto* co = std::get_if<ev::CoRegulationSet>(&e)) {
    ChangeRecord rec{Setting::CoRegulation, co->before ? 1 : 0, co->after ? 1 : 0, now()};
    if (inVisit)
      push(rec);
    else if (armed)
      early.emplace_back(rec);
  } else if (std::holds_alternative<ev::Disconnected>(e)) {
    endVisit();
    armed = false;
  } else if (const auto* l = std::get_if<ev::LinkChanged>(&e)) {
    // A port closed as Connect replaces it comes before the new identification: only a visit in
    // progress ends here.
    if ((l->status.state == LinkState::Lost || l->status.state == LinkState::Idle) && inVisit) {
      endVisit();
      armed = false;
    }
  }
}

void RecordKeeper::Impl::startVisit(const ev::EcuIdentified& id) {
  armed = false;
  inVisit = true;
  VisitStart v{now(),
               port,
               options.adapterOf ? options.adapterOf(port) : std::string(),
               key.ecu,
               options.version,
               id.trusted};
  std::lock_guard lock(m);
  if (failed) return;
  queue.emplace_back(StartOp{key, std::move(v)});
  for (Op& op : early) queue.push_back(std::move(op));
  early.clear();
  liveInVisit = true;
  liveDirty = !live.empty();
}

void RecordKeeper::Impl::endVisit() {
  if (!inVisit) return;
  inVisit = false;
  const WallTime at = now();
  // A test whose verdict never came.
  for (auto& [t, when] : running)
    push(TestRecord{t.window, t.name, t.code, ev::Verdict::Unknown, {}, when});
  running.clear();
  std::lock_guard lock(m);
  liveInVisit = false;
  liveDirty = false;
  if (failed) return;
  queue.emplace_back(live.summaries());
  queue.emplace_back(EndOp{at});
}

void RecordKeeper::Impl::fail(const std::string& why) {
  {
    std::lock_guard lock(m);
    failed = true;
    queue.clear();
  }
  working = false;
  store.reset();
  if (options.onProblem) options.onProblem(why);
}

bool RecordKeeper::Impl::apply(const Op& op, std::vector<std::function<void()>>& after) {
  RecordStore& s = *store;
  if (const auto* start = std::get_if<StartOp>(&op)) {
    const std::optional<Bike> before = s.findBike(start->key);
    const int64_t bike = s.bikeFor(start->key);
    if (!bike) return false;
    BikeNews news;
    joined.clear();
    // The bike's last visit goes on when this connection comes within the join time of it.
    std::optional<Visit> lastVisit;
    if (before && before->lastVisit && options.joinHours > 0)
      lastVisit = s.visit(before->lastVisit);
    if (lastVisit &&
        JoinsVisit(lastVisit->end.msSinceEpoch ? lastVisit->end : lastVisit->begun.start,
                   start->start.start, options.joinHours)) {
      current = lastVisit->id;
      if (!s.reopenVisit(current)) return false;
      joined = lastVisit->channels;
      news = {BikeNews::Kind::SameVisit, *before, s.previousVisit(current), current,
              SameVisitText(*before, lastVisit->begun.start)};
    } else {
      current = s.startVisit(bike, start->start);
      if (!current) return false;
      if (before && before->visits > 0 && before->lastVisit) {
        news = {BikeNews::Kind::KnownBike, *before, before->lastVisit, current,
                KnownBikeText(*before)};
      } else {
        const std::optional<Bike> added = s.bike(bike);
        if (!added) return false;
        news = {BikeNews::Kind::NewBike, *added, 0, current, NewBikeText(*added)};
      }
    }
    last = current;
    if (nextMileage && !s.setMileage(current, nextMileage)) return false;
    nextMileage.reset();
    for (const FileRecord& f : nextFiles)
      if (!s.addFile(current, f)) return false;
    nextFiles.clear();
    const int64_t v = current;
    after.push_back([this, bike, v] {
      if (options.onVisit) options.onVisit(bike, v);
    });
    after.push_back([this, news = std::move(news)] {
      if (options.onBikeNews) options.onBikeNews(news);
    });
    return true;
  }
  if (const auto* k = std::get_if<KeyOp>(&op)) return !current || s.bikeFor(k->key) != 0;
  if (const auto* m = std::get_if<MileageOp>(&op)) {
    if (!current) {
      nextMileage = m->km;
      return true;
    }
    return s.setMileage(current, m->km);
  }
  if (const auto* f = std::get_if<FileRecord>(&op)) {
    // A file saved after the visit ended (the log after Disconnect) belongs to it.
    if (const int64_t v = current ? current : last) return s.addFile(v, *f);
    nextFiles.push_back(*f);
    return true;
  }
  if (!current) return true;
  if (const auto* e = std::get_if<EndOp>(&op)) {
    const bool ok = s.endVisit(current, e->at);
    current = 0;
    return ok;
  }
  if (const auto* r = std::get_if<ReadoutRecord>(&op)) return s.addReadout(current, *r);
  if (const auto* t = std::get_if<TestRecord>(&op)) return s.addTest(current, *t);
  if (const auto* c = std::get_if<ChangeRecord>(&op)) return s.addChange(current, *c);
  if (const auto* c = std::get_if<ChannelsOp>(&op))
    return s.setChannels(current, joined.empty() ? *c : MergeSummaries(joined, *c));
  return true;
}

void RecordKeeper::Impl::run() {
  std::string why;
  store = RecordStore::Open(options.path, RecordStore::Mode::ReadWrite, why);
  if (store && store->readOnly()) {
    why = store->notice().empty() ? options.path + " is read-only" : store->notice();
    store.reset();
  }
  if (!store) fail(why.empty() ? "records cannot be kept in " + options.path : why);
  std::unique_lock lock(m);
  for (;;) {
    wake.wait_for(lock, kPeriod, [&] { return stop || asked > done; });
    const bool stopping = stop;
    const uint64_t target = asked;
    std::vector<Op> ops;
    ops.swap(queue);
    if (liveDirty) {
      ops.emplace_back(live.summaries());
      liveDirty = false;
    }
    lock.unlock();
    if (!ops.empty() && store) {
      std::vector<std::function<void()>> after;
      // A batch that another program kept busy runs again from the same start.
      const int64_t wasCurrent = current, wasLast = last;
      const std::vector<ChannelSummary> wasJoined = joined;
      const std::optional<int> wasMileage = nextMileage;
      const std::vector<FileRecord> wasFiles = nextFiles;
      const bool ok = store->batch([&] {
        current = wasCurrent;
        last = wasLast;
        joined = wasJoined;
        nextMileage = wasMileage;
        nextFiles = wasFiles;
        after.clear();
        for (const Op& op : ops)
          if (!apply(op, after)) return false;
        return true;
      });
      if (ok) {
        visit = last;
        for (auto& f : after) f();
      } else {
        fail(store->error().empty() ? "records not written to " + options.path : store->error());
      }
    }
    lock.lock();
    done = target;
    written.notify_all();
    if (stopping) break;
  }
}

RecordKeeper::RecordKeeper(KeeperOptions options) : d_(std::make_unique<Impl>(std::move(options))) {
  d_->thread = std::thread([d = d_.get()] { d->run(); });
}

RecordKeeper::~RecordKeeper() {
  d_->endVisit();
  {
    std::lock_guard lock(d_->m);
    d_->stop = true;
  }
  d_->wake.notify_all();
  d_->thread.join();
}

void RecordKeeper::onEvent(const SessionEvent& e) {
  d_->event(e);
}

void RecordKeeper::noteFile(FileKind kind, const std::string& path) {
  d_->push(FileRecord{kind, path, d_->now()});
}

void RecordKeeper::setMileage(std::optional<int> km) {
  d_->push(MileageOp{km});
}

void RecordKeeper::flush() {
  std::unique_lock lock(d_->m);
  const uint64_t target = ++d_->asked;
  d_->wake.notify_all();
  d_->written.wait(lock, [&] { return d_->done >= target; });
}

int64_t RecordKeeper::visit() const {
  return d_->visit;
}

bool RecordKeeper::working() const {
  return d_->working;
}

}  // namespace kline::records
