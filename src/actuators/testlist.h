#pragma once

#include <array>
#include <string>

#include "ui/childwindow.h"

namespace kline {

// One entry of the main window's test list: its text and its item code, whose decimal digits
// read as hexadecimal give the test code byte (87 sends 0x87). `clearsFaults`: the test erases
// the faults stored in the ECU rather than driving an actuator.
struct TestEntry {
  const char* text;
  int itemCode;
  bool clearsFaults = false;
};

using TestList = std::array<TestEntry, 7>;

// The lists of the ECU types (the ECU type table says which type shows which), and the list
// shown at load, before any option handler ran.
extern const TestList kTestList15m;
extern const TestList kTestList16m;
extern const TestList kTestListP8;
extern const TestList kTestListAtLoad;

// Whether the entry shown as `text` in the test list clears the stored faults: the clearing
// code differs by ECU type (83 on 15m, 84 on 16m, while P8's 83 is a coil).
bool TestListEntryClearsFaults(const std::string& text);

// The test code byte of an item code: its decimal digits read as hexadecimal.
int TestCodeOf(int itemCode);

// The verdict wait's length in seconds for an item code, given the previous one (84 keeps it).
int TestDurationOf(int itemCode, int previous);

// The item codes of the seven entries, in list order.
using TestItemData = std::array<int, 7>;

// Puts the tests of `list` into the list "List1" of `ctl` and their item codes into `itemData`.
void FillTestList(ControlModel& ctl, TestItemData& itemData, const TestList& list);

// A click on an entry of the list "List1" of the main window `ctl`: diagnostic mode, the test
// code, its answer, then the verdict wait, with the poll loop stopped meanwhile and resumed with
// 50 ms. `shown` is cleared and takes the verdict the window shows ("OK", "Erreur").
void RunTestListEntry(ControlModel& ctl, MainWindowLink& main, const TestItemData& itemData,
                      std::string& shown);

}  // namespace kline
