#include <gtest/gtest.h>

#include "connection/portfield.h"

using namespace kline;

TEST(PortField, NamesPathsAndSimAreKeptAsTypedOtherTextIsANumber) {
  struct Row {
    const char* field;
    PortField::Kind kind;
    const char* stored;
  } rows[] = {{"1", PortField::Kind::Number, "1"},
              {"03", PortField::Kind::Number, "3"},
              {"abc", PortField::Kind::Number, "0"},
              {"2.5", PortField::Kind::Number, "2"},
              {"99999", PortField::Kind::Number, "0"},
              {"sim", PortField::Kind::Sim, "sim"},
              {" SIM ", PortField::Kind::Sim, "SIM"},
              {"COM7", PortField::Kind::Device, "COM7"},
              {"/dev/ttyUSB0", PortField::Kind::Device, "/dev/ttyUSB0"},
              {"ttyUSB1", PortField::Kind::Device, "ttyUSB1"},
              {"COMx", PortField::Kind::Number, "0"},
              {"COM7x", PortField::Kind::Number, "0"}};
  for (const auto& r : rows) {
    PortField p = ParsePortField(r.field);
    EXPECT_EQ(p.kind, r.kind) << r.field;
    EXPECT_EQ(p.text(), r.stored) << r.field;
  }
}
