#pragma once

#include <string>
#include <vector>

namespace kline {

struct EcuTypeInfo;

// A serial port the system sees, as the checklist lists it. The front end fills these in from
// its platform's port list.
struct SeenPort {
  std::string device;       // what the port field takes ("/dev/ttyUSB0", "COM7")
  std::string description;  // the system's words for it
  std::string usbId;        // "0403:6001", or empty
  std::string chip;         // the USB chip's name where it is known ("FTDI FT232R")
  int latencyTimerMs = 0;   // an FTDI adapter's latency timer where the system shows it (0: not)
};

// One thing to check: a short title and a line or a few under it.
struct ChecklistItem {
  std::string title;
  std::vector<std::string> lines;
};

// What to check when a first connection hears nothing from the ECU, most likely first: the
// ignition, the adapter's power, the ECU type, the port, the cable on the connector. Plain data;
// every text in it that came from the system or the user is data to show as plain text.
struct ConnectChecklist {
  std::string heading;  // "No wake-up burst from the ECU on COM7 within 5 s."
  std::vector<ChecklistItem> items;

  // The whole list as plain text: the heading, then each item numbered with its lines indented,
  // every line ending with '\n'.
  std::string text() const;
};

// What the front end knows beyond the connection: the ports the system sees now, and how the
// user runs the adapter check from where they are (a button, a command).
struct ChecklistContext {
  std::vector<SeenPort> ports;
  std::string adapterCheck;
  // While the front end listens for the ECU, in its own words.
  std::string listening = "with Connect pressed";
};

// The checklist for a connection of `type` on `port` (the port field's text) that heard nothing.
ConnectChecklist BuildConnectChecklist(const EcuTypeInfo& type, const std::string& port,
                                       const ChecklistContext& context);

// How the window wakes an ECU of `type`, in one line.
std::string WakeUpLine(const EcuTypeInfo& type);

}  // namespace kline
