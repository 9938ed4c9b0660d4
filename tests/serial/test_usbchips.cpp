// The chip table: what a USB vendor:product pair tells of a K-line cable's chip.
#include <gtest/gtest.h>

#include <string>

#include "serial/usbchips.h"

using namespace kline;

namespace {

std::string notesOf(const UsbChip* c) {
  std::string all;
  for (std::string_view n : c->notes) all += std::string(n) + "\n";
  return all;
}

}  // namespace

TEST(UsbChips, KnownChipsSayWhatMattersOnTheKLine) {
  const UsbChip* ftdi = FindUsbChip(0x0403, 0x6001);
  ASSERT_NE(ftdi, nullptr);
  EXPECT_EQ(ftdi->family, "FTDI");
  EXPECT_TRUE(ftdi->latencyTimer);
  EXPECT_NE(notesOf(ftdi).find("16 ms by default"), std::string::npos);
  // A cable maker's own product id under FTDI's vendor id is still an FTDI chip.
  const UsbChip* own = FindUsbChip(0x0403, 0xd6da);
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(own->latencyTimer);

  ASSERT_NE(FindUsbChip(0x1a86, 0x7523), nullptr);
  EXPECT_EQ(FindUsbChip(0x1a86, 0x7523)->name, "CH340");
  EXPECT_EQ(FindUsbChip(0x1a86, 0x5523)->name, "CH341");
  EXPECT_NE(notesOf(FindUsbChip(0x1a86, 0x7523)).find("7812 baud"), std::string::npos);

  const UsbChip* pl = FindUsbChip(0x067b, 0x2303);
  ASSERT_NE(pl, nullptr);
  EXPECT_NE(notesOf(pl).find("(Code 10)"), std::string::npos);
  EXPECT_NE(notesOf(pl).find("another chip"), std::string::npos);
  ASSERT_NE(FindUsbChip(0x067b, 0x23a3), nullptr);
  EXPECT_EQ(FindUsbChip(0x067b, 0x23a3)->family, "PL2303");

  const UsbChip* cp = FindUsbChip(0x10c4, 0xea60);
  ASSERT_NE(cp, nullptr);
  EXPECT_NE(notesOf(cp).find("rounded"), std::string::npos);
  for (const UsbChip* c : {pl, cp, FindUsbChip(0x1a86, 0x7523)}) EXPECT_FALSE(c->latencyTimer);
}

TEST(UsbChips, UnknownIdsClaimNothing) {
  // Other products of the same makers, an Arduino, and ids next to known ones.
  for (auto [vid, pid] : {std::pair<uint16_t, uint16_t>{0x1a86, 0x55d4},
                          {0x10c4, 0xea70},
                          {0x067b, 0x2304},
                          {0x067b, 0x23a4},
                          {0x2341, 0x0043},
                          {0x0000, 0x0000}})
    EXPECT_EQ(FindUsbChip(vid, pid), nullptr) << std::hex << vid << ":" << pid;
}
