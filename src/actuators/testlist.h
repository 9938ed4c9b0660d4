#pragma once

#include <array>
#include <string>

namespace kline {

// One entry of the main window's test list: its text and its item code, whose decimal digits
// read as hexadecimal give the test code byte (87 sends 0x87).
struct TestEntry {
  const char* text;
  int itemCode;
};

using TestList = std::array<TestEntry, 7>;

// The list of an ECU type option ("Option1", "Option9", "Option2", "Option8", "Option7"); the
// list shown at load, before any option handler ran, for "".
const TestList& TestListFor(const std::string& option);

// The test code byte of an item code: its decimal digits read as hexadecimal.
int TestCodeOf(int itemCode);

// The verdict wait's length in seconds for an item code, given the previous one (84 keeps it).
int TestDurationOf(int itemCode, int previous);

}  // namespace kline
