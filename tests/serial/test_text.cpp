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
