#include "ptyserver.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "linerate.h"
#include "serial/byteexchange.h"
#include "sim/simecu.h"

namespace kline {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

struct PtyServer::State {
  SimConfig cfg;
  std::ostream* verbose;
  int master = -1;
  Clock::time_point start = Clock::now();
  std::unique_ptr<SimEcu> sim;
  bool connected = false;
  int baud = 0;

  int64_t micros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  }
  void say(const std::string& what) {
    if (verbose) *verbose << (micros() / 1000) << " ms: " << what << std::endl;
  }
};

PtyServer::PtyServer(SimConfig config, std::ostream* verbose) : s_(std::make_unique<State>()) {
  s_->cfg = std::move(config);
  s_->verbose = verbose;
}

PtyServer::~PtyServer() {
  if (s_->master >= 0) ::close(s_->master);
}

std::string PtyServer::open() {
  int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
    error_ = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return {};
  }
  char name[128];
  if (::ptsname_r(fd, name, sizeof name) != 0) {
    error_ = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    ::close(fd);
    return {};
  }
  // Start the slave raw, so nothing echoes or translates before a program sets it up.
  int slave = ::open(name, O_RDWR | O_NOCTTY);
  if (slave >= 0) {
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
      ::cfmakeraw(&t);
      ::cfsetspeed(&t, B1200);
      ::tcsetattr(slave, TCSANOW, &t);
    }
    ::close(slave);
  }
  s_->master = fd;
  return name;
}

void PtyServer::run(const std::atomic<bool>& stop) {
  State& s = *s_;
  s.sim = std::make_unique<SimEcu>(s.cfg, [&s] { return s.micros(); });
  unsigned char buf[256];
  while (!stop) {
    // Sleep until the line has something to deliver, a byte comes in, or 50 ms pass. A timed
    // wake-up comes some tens of us late; the last stretch before a byte is due is spent looking
    // instead, so bytes leave on time as on a real line.
    int64_t next = s.connected ? s.sim->nextEventAt() : INT64_MAX;
    int64_t waitUs = next == INT64_MAX ? 50000 : std::max<int64_t>(0, next - s.micros());
    waitUs = std::min<int64_t>(waitUs, 50000);
    constexpr int64_t kLookUs = 150;
    pollfd p{s.master, POLLIN, 0};
    int64_t sleepUs = next == INT64_MAX ? waitUs : std::max<int64_t>(0, waitUs - kLookUs);
    timespec ts{static_cast<time_t>(sleepUs / 1000000),
                static_cast<long>(sleepUs % 1000000) * 1000};
    int n = ::ppoll(&p, 1, &ts, nullptr);
    if (n < 0 && errno != EINTR) break;
    if (n == 0 && next != INT64_MAX) {
      timespec now{0, 0};
      while (s.micros() < next && (n = ::ppoll(&p, 1, &now, nullptr)) == 0) {
      }
    }

    bool hangup = n > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN);
    if (hangup) {
      if (s.connected) {
        s.connected = false;
        s.sim->close();
        s.say("the program closed the port");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (!s.connected) {
      // Someone opened the slave: the ECU powers up with the port.
      s.connected = true;
      s.baud = SlaveBaudRate(s.master);
      s.sim->Settings = std::to_string(s.baud > 0 ? s.baud : 1200) + ",n,8,1";
      s.sim->open();
      s.say("the program opened the port at " + std::to_string(s.baud) + " baud");
    }
    int baud = SlaveBaudRate(s.master);
    if (baud > 0 && baud != s.baud) {
      s.baud = baud;
      LineSettings ls;
      ls.baud = baud;
      s.sim->setLineSettings(ls);
      s.say("baud " + std::to_string(baud));
    }
    if (n > 0 && (p.revents & POLLIN)) {
      ssize_t got = ::read(s.master, buf, sizeof buf);
      if (got > 0) {
        ByteString in(reinterpret_cast<char*>(buf), static_cast<std::size_t>(got));
        s.say("from the program " + ToHex(in));
        s.sim->write(in);
      }
    }
    ByteString out = s.sim->readAll();
    if (!out.empty()) {
      s.say("to the program " + ToHex(out));
      std::size_t off = 0;
      while (off < out.size()) {
        ssize_t w = ::write(s.master, out.data() + off, out.size() - off);
        if (w > 0)
          off += static_cast<std::size_t>(w);
        else if (errno != EAGAIN && errno != EINTR)
          break;
      }
    }
  }
}

}  // namespace kline
