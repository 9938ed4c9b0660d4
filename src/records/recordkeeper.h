#pragma once

// Keeps the records of a session as it goes: an observer of the session's typed events that
// writes the bike and its visit to the records file. The session thread only queues what
// happened; a thread of the keeper's own writes it, at least once a second, so writing never
// stalls the session and a process killed at any moment loses at most the last second.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "records/recordstore.h"
#include "ui/eventsink.h"

namespace kline::records {

// What a connection that identified a bike made of the records, said in one line.
struct BikeNews {
  enum class Kind {
    NewBike,    // the bike's first visit began
    KnownBike,  // a new visit of a bike seen before began
    SameVisit,  // the connection joined the bike's last visit: the same stay in the workshop
  };
  Kind kind = Kind::NewBike;
  Bike bike;                  // as it was before this connection
  int64_t previousVisit = 0;  // the bike's visit before this connection's (0: none)
  int64_t visit = 0;          // this connection's visit
  // For the status bar or stderr: "New bike: NAME", "Known bike: NAME — last visit 2026-03-14, 2
  // faults then", "Same visit as before: NAME (since 09:12)".
  std::string text;
};

// The known bike's line: "Known bike: NAME — last visit 2026-03-14, 2 faults then" (NAME: its
// name, else its identification; "1 fault", "no faults", "faults not read then").
std::string KnownBikeText(const Bike& b);
// "New bike: NAME" (NAME: its name, else its identification).
std::string NewBikeText(const Bike& b);
// "Same visit as before: NAME (since 09:12)", the visit having begun at `begun`.
std::string SameVisitText(const Bike& b, WallTime begun);

struct KeeperOptions {
  std::string path;     // the records file (UTF-8)
  std::string version;  // the program's version, kept with each visit
  // What is known of the adapter on a port (a chip, a description); may be empty.
  std::function<std::string(const std::string& port)> adapterOf;
  // The wall clock for what the events do not stamp.
  std::function<WallTime()> wallClock;
  // How close to the bike's last visit a connection joins it (JoinsVisit): the same day or within
  // this many hours; 0: every connection is a visit of its own.
  int joinHours = kDefaultJoinHours;
  // Called on the keeper's thread: once when the records cannot be kept (the file cannot be
  // opened or written; one line, the session goes on without them); when a connection's visit
  // is known (a new one, or the last one joined); what that visit is to the user.
  std::function<void(const std::string& problem)> onProblem;
  std::function<void(int64_t bike, int64_t visit)> onVisit;
  std::function<void(const BikeNews&)> onBikeNews;
};

class RecordKeeper : public EventSink {
 public:
  explicit RecordKeeper(KeeperOptions options);
  // Ends the visit in progress and writes what is queued before it returns. On the session
  // thread, or once the session's events have stopped.
  ~RecordKeeper() override;
  RecordKeeper(const RecordKeeper&) = delete;
  RecordKeeper& operator=(const RecordKeeper&) = delete;

  // Session thread: queues what happened and sums the live cycles, nothing more.
  void onEvent(const SessionEvent& e) override;

  // What the front ends add (any thread; wallClock is read there): a file made during the visit
  // (or after it, as the log saved after Disconnect: it goes with the last visit), the mileage
  // typed (for the visit in progress, else the next one).
  void noteFile(FileKind kind, const std::string& path);
  void setMileage(std::optional<int> km);
  // Writes what is queued now and waits for it (tests, the end of a command-line run).
  void flush();

  // The visit in progress or the last one, as far as written (0: none yet), and whether records
  // are being kept (false once a problem was told).
  int64_t visit() const;
  bool working() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace kline::records
