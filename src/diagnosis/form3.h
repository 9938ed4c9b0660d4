#pragma once

#include <cstdint>
#include <string>

#include "diagnosis/faulttexts.h"
#include "ui/childwindow.h"

namespace kline {

// The diagnostic memory window "Diag": ten read buttons, its own log pane and "Back". It has no
// port of its own and talks through the main window's while the poll loop is stopped.
// Session thread only.
class Form3 : public ChildWindow {
 public:
  Form3(MainWindowLink& main, EventSink* sink);

  void Form_Load() override;
  void back_Click();
  // The read buttons: one status byte each, decoded with its table.
  void Command4_Click();
  void Command5_Click();
  void Command6_Click();
  void Command1_Click();
  void Command7_Click();
  void Command3_Click();
  void Command2_Click();
  void Command10_Click();
  void Command9_Click();
  void Command8_Click();

 private:
  // The answer to `code` as two hex digits, or empty after 2500 ms of silence or a wrong echo.
  std::string ReadMemoryByte(uint8_t code);
  void readOneText(uint8_t code, const BitTexts& table);
  void readTwoTexts(uint8_t code, const BitPairTexts& table);
  void publishReadout(uint8_t code, const std::string& status,
                      const std::vector<std::string>& lines);

  MainWindowLink& main_;
};

}  // namespace kline
