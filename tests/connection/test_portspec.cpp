#include <gtest/gtest.h>

#include "connection/portspec.h"

using namespace kline;

TEST(PortSpec, NamesPathsAndSimAreKeptAsTypedOtherTextIsANumber) {
  struct Row {
    const char* field;
    PortSpec::Kind kind;
    const char* stored;
  } rows[] = {{"1", PortSpec::Kind::Number, "1"},
              {"03", PortSpec::Kind::Number, "3"},
              {"abc", PortSpec::Kind::Number, "0"},
              {"2.5", PortSpec::Kind::Number, "2"},
              {"99999", PortSpec::Kind::Number, "0"},
              {"sim", PortSpec::Kind::Sim, "sim"},
              {" SIM ", PortSpec::Kind::Sim, "SIM"},
              {"COM7", PortSpec::Kind::Device, "COM7"},
              {"/dev/ttyUSB0", PortSpec::Kind::Device, "/dev/ttyUSB0"},
              {"ttyUSB1", PortSpec::Kind::Device, "ttyUSB1"},
              {"COMx", PortSpec::Kind::Number, "0"}};
  for (const auto& r : rows) {
    PortSpec p = ParsePortSpec(r.field);
    EXPECT_EQ(p.kind, r.kind) << r.field;
    EXPECT_EQ(p.text(), r.stored) << r.field;
  }
}
