#include <gtest/gtest.h>

#include "serial/serialport.h"
#include "sim/simecu.h"

using namespace kline;

namespace {

// A port whose device-control block can be made to refuse reads or writes.
class FakePort : public SerialPort {
 public:
  bool isOpen() const override { return open; }
  int inBufferCount() override { return 0; }
  int16_t commEvent() override { return 0; }
  bool getLineSettings(LineSettings& out) override {
    out = dcb;
    return readable;
  }
  bool open = false, readable = true, writable = true;
  LineSettings dcb;

 protected:
  void doOpen() override { open = true; }
  void doClose() override { open = false; }
  void doWrite(const ByteString&) override {}
  ByteString doReadAll() override { return {}; }
  bool doSetLineSettings(const LineSettings& in) override {
    if (writable) dcb = in;
    return writable;
  }
};

}  // namespace

TEST(SetBaudRate, ReportsTheThreeErrorRecordsWithThePortName) {
  FakePort p;
  EXPECT_EQ(SetBaudRate(p, 7812),
            (PortError{8018, "MSComm1", "Operation valid only when the port is open"}));
  p.open = true;
  p.readable = false;
  EXPECT_EQ(SetBaudRate(p, 7812),
            (PortError{8021, "MSComm1", "Could not read current state of the port"}));
  p.readable = true;
  p.writable = false;
  EXPECT_EQ(SetBaudRate(p, 7812),
            (PortError{8015, "MSComm1", "Could not set port to specified baud rate"}));
  EXPECT_EQ(p.dcb.baud, 1200);
}

TEST(SetBaudRate, ChangesOnlyTheRateAndLastsUntilClose) {
  int64_t now = 0;
  SimConfig cfg;
  SimEcu port(cfg, [&] { return now; });
  EXPECT_TRUE(SetBaudRate(port, 7812).has_value());
  port.open();
  EXPECT_EQ(SetBaudRate(port, 7812), std::nullopt);
  LineSettings s;
  ASSERT_TRUE(port.getLineSettings(s));
  EXPECT_EQ(s.baud, 7812);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.parity, 'n');
  EXPECT_EQ(s.stopBits, 1);
  port.close();
  port.open();
  EXPECT_EQ(port.baud(), 1200);
}
