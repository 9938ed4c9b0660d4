// Texts as the line, the files and the user give them, and as a terminal is given them.
#include <gtest/gtest.h>

#include <cctype>

#include "serial/text.h"

using namespace kline;

namespace {

struct TerminalCase {
  const char* what;
  std::string in;
  std::string shown;
};

void PrintTo(const TerminalCase& c, std::ostream* os) {
  *os << c.what;
}

class TerminalTextShows : public testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalTextShows, ControlsVisiblyAndTheRestAsItIs) {
  EXPECT_EQ(TerminalText(GetParam().in), GetParam().shown);
}

// An identification record read from the ECU: escape sequences that would clear and recolour
// the terminal.
const std::string kClearAndRed = "\x1B[2J\x1B[31mR";

INSTANTIATE_TEST_SUITE_P(
    Texts, TerminalTextShows,
    testing::Values(TerminalCase{"plain", "Ecu info: 4 KL15M-0427", "Ecu info: 4 KL15M-0427"},
                    TerminalCase{"line ends stay", "a\nb\n", "a\nb\n"},
                    TerminalCase{"escape sequences", "ecu data    : " + kClearAndRed,
                                 "ecu data    : \\x1B[2J\\x1B[31mR"},
                    TerminalCase{"every C0 control and DEL",
                                 std::string("\x00\x01\x07\x08\t\r\x1F\x7F", 8),
                                 "\\x00\\x01\\x07\\x08\\x09\\x0D\\x1F\\x7F"},
                    // The ECU's bytes 0x9B (a one-byte CSI) and 0x85 as EightBitText keeps them.
                    TerminalCase{"C1 controls in UTF-8",
                                 EightBitText("\x9B"
                                              "2J\x85"),
                                 "\\x9B2J\\x85"},
                    TerminalCase{"a C1 byte outside UTF-8",
                                 "a\x9B"
                                 "31m",
                                 "a\\x9B31m"},
                    // Printable 8-bit characters and other scripts stay readable.
                    TerminalCase{"printable non-ASCII",
                                 EightBitText("\xA0\xB0\xFF") + " \xE2\x80\x94 \xF0\x9F\x9B\xB5",
                                 "\xC2\xA0\xC2\xB0\xC3\xBF \xE2\x80\x94 \xF0\x9F\x9B\xB5"},
                    TerminalCase{"a lone lead byte", "\xC2", "\xC2"},
                    // Not UTF-8, yet not a control either: the bytes go as they are.
                    TerminalCase{"Latin-1 text", "caf\xE9 \xFF", "caf\xE9 \xFF"},
                    // Overlong forms and a character cut short are no characters: their bytes are
                    // judged one by one.
                    TerminalCase{"overlong escape", "\xC0\x9B", "\xC0\\x9B"},
                    TerminalCase{"cut short", "\xE2\x80", "\xE2\\x80"}),
    [](const testing::TestParamInfo<TerminalCase>& info) {
      std::string name;
      for (const char* c = info.param.what; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return name;
    });

}  // namespace

TEST(Text, BytesShowAsUpperCaseHexPairs) {
  EXPECT_EQ(HexByte(0x0F), "0F");
  EXPECT_EQ(HexByte(0xA0), "A0");
  EXPECT_EQ(ToHex(""), "");
  EXPECT_EQ(ToHex(std::string("\x00\x0F\x55\xFF", 4)), "000F55FF");
  // The adapter check's spaced pairs: nothing before the first or after the last.
  EXPECT_EQ(ToHex("\x0F\x55\xAA", " "), "0F 55 AA");
  EXPECT_EQ(ToHex("\x0F", " "), "0F");
  EXPECT_EQ(ToHex("", " "), "");
}

TEST(Text, AsciiLowerChangesTheLettersAToZAndNothingElse) {
  EXPECT_EQ(AsciiLower("P8-Sensor"), "p8-sensor");
  EXPECT_EQ(AsciiLower("COM7 SIM"), "com7 sim");
  // The neighbours of A-Z in ASCII stay, and so does every byte of other characters, whatever
  // the locale would make of them.
  EXPECT_EQ(AsciiLower("@[`{AZ"), "@[`{az");
  EXPECT_EQ(AsciiLower("\xC3\x89T\xC3\xA9"), "\xC3\x89t\xC3\xA9");
  EXPECT_EQ(AsciiLower("caf\xC9 \xDA"), "caf\xC9 \xDA");
}

TEST(Text, ValidUtf8ReplacesEachByteThatIsNoPartOfACharacter) {
  const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string in, out;
  } rows[] = {
      {"", ""},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      // Characters of two, three and four bytes, the last one there is among them.
      {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x9B\xB5 \xF4\x8F\xBF\xBF",
       "caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x9B\xB5 \xF4\x8F\xBF\xBF"},
      {"caf\xE9!", "caf" + bad + "!"},              // Latin-1
      {"\x80x", bad + "x"},                         // a stray continuation byte
      {"x\xC2", "x" + bad},                         // a lead byte at the end
      {"\xE2\x80x", bad + bad + "x"},               // a character cut short
      {"\xC0\xAF", bad + bad},                      // overlong, two bytes
      {"\xE0\x80\xAF", bad + bad + bad},            // overlong, three bytes
      {"\xED\xA0\x80", bad + bad + bad},            // a surrogate
      {"\xF4\x90\x80\x80", bad + bad + bad + bad},  // past U+10FFFF
      {"\xFF\xFE", bad + bad},
  };
  for (const auto& r : rows) EXPECT_EQ(ValidUtf8(r.in), r.out) << r.in;
}
