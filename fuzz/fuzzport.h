#pragma once

// A port whose line is written by the fuzz input: every echo, answer, stray byte, burst and delay.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <queue>
#include <vector>

#include "serial/serialport.h"

namespace kline::fuzz {

// Reads the input front to back; past its end every read gives 0 and exhausted() is true.
class InputStream {
 public:
  InputStream(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t word() {
    uint16_t hi = byte();
    return static_cast<uint16_t>(hi << 8 | byte());
  }
  bool exhausted() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct FuzzPortOptions {
  bool opens = true;         // false: the open fails as with a port number that has no device
  bool baudRefused = false;  // the driver refuses 7812 baud
  int64_t lostAfterMs = -1;  // the adapter goes away this long after open (-1: never)
};

// What one written byte brings back is read from the stream as a control byte c and its data:
//   bit 0      set: no echo
//   bit 1      set: the echo is the next stream byte instead of the byte written
//   bits 2-3   answer length 1, 0, 2 or 4; the answer bytes follow in the stream
//   bits 4-6   delay of the answer after the echo: 2, 0, 5, 20, 100, 1000, 2100 ms, or the next
//              stream byte times 16 ms (up to 4080 ms, past every time limit)
//   bit 7      set: stray bytes follow, a byte k: k & 7 bytes from the stream, k >> 3 ms after
//              the answer
// An exhausted stream answers nothing. At open a burst is read: a byte d (the ECU wakes d * 20 ms
// later), a byte n, then n % 16 bytes.
class FuzzPort : public SerialPort {
 public:
  FuzzPort(InputStream& in, FuzzPortOptions options, std::function<uint64_t()> clock)
      : in_(in), opt_(options), clock_(std::move(clock)) {}

  bool isOpen() const override { return open_ && !lost(); }
  int inBufferCount() override;
  int16_t commEvent() override;
  bool getLineSettings(LineSettings& out) override;
  std::string deviceName() const override { return "fuzz"; }
  std::string openError() const override { return opt_.opens ? "" : "no such serial port"; }

 protected:
  void doOpen() override;
  void doClose() override;
  void doWrite(const ByteString& bytes) override;
  ByteString doReadAll() override;
  bool doSetLineSettings(const LineSettings& in) override;

 private:
  struct Pending {
    uint64_t at;
    uint64_t seq;
    uint8_t byte;
    bool operator>(const Pending& o) const { return at != o.at ? at > o.at : seq > o.seq; }
  };
  void deliver(uint64_t at, uint8_t byte);
  void advance();

  InputStream& in_;
  FuzzPortOptions opt_;
  std::function<uint64_t()> clock_;
  bool open_ = false;
  uint64_t openedAt_ = 0;
  uint64_t seq_ = 0;
  int16_t event_ = kEventNone;
  LineSettings line_;
  std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> pending_;
  std::deque<uint8_t> rx_;
};

}  // namespace kline::fuzz
