// The fault and state texts, the bit decoding and the thirteen lines of the fault readout.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "diagnosis/faulttexts.h"

using namespace kline;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST(HexToBin, EveryDigitEitherCase) {
  const char* bits[16] = {"0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
                          "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};
  const char* upper = "0123456789ABCDEF";
  const char* lower = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(HexToBin(std::string(1, upper[i])), bits[i]) << upper[i];
    EXPECT_EQ(HexToBin(std::string(1, lower[i])), bits[i]) << lower[i];
  }
}

TEST(HexToBin, MostSignificantBitFirst) {
  EXPECT_EQ(HexToBin("0F"), "00001111");
  EXPECT_EQ(HexToBin("A5"), "10100101");
  EXPECT_EQ(HexToBin("84"), "10000100");
  EXPECT_EQ(HexToBin("24"), "00100100");
  EXPECT_EQ(HexToBin(""), "");
}

// The readouts below spell out most texts; these are the ones they do not reach, and how many
// texts each table writes.
TEST(Tables, TextCountsAndTheEntriesNoReadoutShows) {
  auto written = [](auto table) {
    return std::count_if(table.begin(), table.end(), [](std::string_view t) { return !t.empty(); });
  };
  EXPECT_EQ(written(immotab), 6);
  EXPECT_EQ(written(immotab2), 3);
  EXPECT_EQ(written(errtab1), 8);
  EXPECT_EQ(written(errtab2), 8);
  EXPECT_EQ(written(errtype), 16);
  EXPECT_EQ(written(statetab), 16);
  EXPECT_EQ(errtab2[1], "Cam sensor");
  EXPECT_EQ(errtab2[8], "Smot sensor");
  EXPECT_EQ(errtype[1], "Maximun leaning down");
  EXPECT_EQ(errtype[15], "Pressure sensor s.c");
  EXPECT_EQ(statetab[1], "Power On,no digimatic gear change");
  EXPECT_EQ(statetab[15], "Sel cleaning underway");
}

TEST(SetBitTexts, SkipsEmptyTextsAndKeepsBitOrder) {
  EXPECT_THAT(SetBitTexts(immotab, HexToBin("84")), ElementsAre("Virgin ECU", "Erroneous keycode"));
  EXPECT_THAT(SetBitTexts(immotab, HexToBin("FF")),
              ElementsAre("Virgin ECU", "ECU in prohibit engine management",
                          "universal code received", "Erroneous keycode",
                          "Unknow or not recognised code", "No code received or link interrupted"));
  EXPECT_EQ(SetBitTexts(immotab2, HexToBin("FF")).size(), 3u);
  EXPECT_THAT(SetBitTexts(immotab, HexToBin("18")), IsEmpty());
  EXPECT_THAT(SetBitTexts(errtab1, HexToBin("81")),
              ElementsAre("VAE blocked open or closed", "throttle valve position sensor"));
  EXPECT_THAT(SetBitTexts(errtab1, ""), IsEmpty());
}

TEST(BitPairLines, EveryBitWritesOneOfItsTexts) {
  EXPECT_THAT(BitPairLines(errtype, HexToBin("41")),
              ElementsAre("Maximun enrichment", "Air temp sensor s.c", "Water temp sensor o.c",
                          "Throttle valve potentiometer o.c", "Arrival of 6 Smot s.c", "Smot o.c",
                          "Cam o.c", "Pressure sensor s.c"));
  // Bit 3 reads the same either way.
  EXPECT_EQ(BitPairLines(errtype, HexToBin("08"))[4], "Arrival of 6 Smot s.c");
  EXPECT_EQ(BitPairLines(errtype, HexToBin("00"))[4], "Arrival of 6 Smot s.c");
  // No answer (an empty bit string) reads as all bits clear.
  EXPECT_THAT(
      BitPairLines(statetab, ""),
      ElementsAre("Power On,no digimatic gear change", "Decrease in advance for detonation",
                  "Awaiting recognition of signal panel", "Partialised", "ABS not active",
                  "Absence of conditioner command", "Neutral position", "VAE normal operation"));
  EXPECT_EQ(BitPairLines(statetab, ""), BitPairLines(statetab, HexToBin("00")));
}

namespace {

const std::vector<std::string> kAllClear = {"Icv OK",
                                            "Enrichment OK ",
                                            "Air temp sensor OK ",
                                            "Knock OK ",
                                            "Water temp sensor OK ",
                                            "Lambda sensor OK    ",
                                            "Map sensor OK ",
                                            "Throttle sensor OK ",
                                            "OK",
                                            "Eprom OK ",
                                            "OK",
                                            "OK  ",
                                            "Crankshaft sensor OK"};

std::vector<std::string> ClearBut(std::initializer_list<std::pair<int, const char*>> lines) {
  std::vector<std::string> out = kAllClear;
  for (auto [line, text] : lines) out[line - 1] = text;
  return out;
}

}  // namespace

TEST(FaultLines, AllZeroIsAllClear) {
  EXPECT_THAT(FaultLines(0, 0, 0), ElementsAreArray(kAllClear));
}

TEST(FaultLines, WorkedExample) {
  EXPECT_EQ(FaultLines(0x10, 0x00, 0x04), ClearBut({{5, "Water temp sensor Short circuit"}}));
}

TEST(FaultLines, KindIsComparedAsAWholeByte) {
  EXPECT_EQ(FaultLines(0x02, 0, 0x01), ClearBut({{2, "Maximum lean"}}));
  EXPECT_EQ(FaultLines(0x02, 0, 0x03), ClearBut({{2, "Maximum rich"}}));
  EXPECT_EQ(FaultLines(0x80, 0, 0x10), ClearBut({{8, "Throttle sensor Short circuit"}}));
  EXPECT_EQ(FaultLines(0x80, 0, 0x11), ClearBut({{8, "Throttle sensor Open circuit "}}));
}

TEST(FaultLines, TwoFaultBitsShowNeither) {
  EXPECT_THAT(FaultLines(0x05, 0, 0), ElementsAreArray(kAllClear));
}

TEST(FaultLines, CrankshaftKinds) {
  EXPECT_EQ(FaultLines(0, 0x80, 0x40), ClearBut({{13, "Crankshaft sensor Short circuit"}}));
  EXPECT_EQ(FaultLines(0, 0x80, 0x00), ClearBut({{13, "Crankshat sensor Open circuit "}}));
}

// Each single fault with the kind byte that picks its short-circuit text and with k = 0.
TEST(FaultLines, EveryFaultTextByItsByte) {
  const struct {
    uint8_t f1, f2, k;
    int line;
    const char* text;
  } rows[] = {
      {0x01, 0, 0, 1, "Icv Blocked"},
      {0x04, 0, 0x02, 3, " Air temp sensor Short circuit"},
      {0x04, 0, 0, 3, "Air temp sensor open circuit "},
      {0x08, 0, 0, 4, "Knock Pinking"},
      {0x10, 0, 0, 5, "water temp sensor Open circuit "},
      {0x20, 0, 0, 6, "Lambda sensor Faulty"},
      {0x40, 0, 0x80, 7, "Map sensor Short circuit"},
      {0x40, 0, 0, 7, "Map sensor Open circuit "},
      {0, 0x01, 0x80, 9, "Camshaft sensor Short circuit"},
      {0, 0x01, 0, 9, "Camshaft sensor Open circuit "},
      {0, 0x04, 0, 10, "Eprom Fault"},
      {0, 0x08, 0, 11, "EEprom Fault"},
      {0, 0x40, 0, 12, "Ram Fault"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(FaultLines(r.f1, r.f2, r.k), ClearBut({{r.line, r.text}})) << r.text;
}

// A first status byte of 0x01 is the idle valve here and the throttle sensor in the memory
// window, which numbers the bits the other way round.
TEST(FaultLines, BitNumberingDiffersFromTheMemoryWindow) {
  EXPECT_EQ(FaultLines(0x01, 0, 0)[0], "Icv Blocked");
  EXPECT_THAT(SetBitTexts(errtab1, HexToBin("01")), ElementsAre("throttle valve position sensor"));
}
