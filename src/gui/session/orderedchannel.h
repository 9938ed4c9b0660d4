#pragma once

#include <deque>
#include <functional>
#include <mutex>

// Calls from any thread run later on one thread, in the order they were queued. A lock of our
// own rather than queued signals' arguments: the order is one, and a race detector sees the
// hand-over, which Qt's own queue (not built for the detector) hides.
class OrderedChannel {
 public:
  // Any thread: queues `call`; true when the channel was empty, so that the caller asks for one
  // delivery.
  bool push(std::function<void()> call) {
    std::lock_guard<std::mutex> lock(lock_);
    queue_.push_back(std::move(call));
    return queue_.size() == 1;
  }
  // The delivering thread: runs what is queued, also what is queued meanwhile.
  void drain() {
    for (;;) {
      std::deque<std::function<void()>> calls;
      {
        std::lock_guard<std::mutex> lock(lock_);
        calls.swap(queue_);
      }
      if (calls.empty()) return;
      for (const auto& call : calls) call();
    }
  }

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> queue_;
};
