#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kline {

// What is known of a USB-serial chip that K-line cables are built on: the family, its name (by
// product id where the family has several), and a few short lines for the user about how it does
// on the K-line.
struct UsbChip {
  std::string_view family;  // "FTDI", "CH340/CH341", "PL2303", "CP210x"
  std::string_view name;    // "FTDI FT232R", "CH340"...
  std::vector<std::string_view> notes;
  bool latencyTimer = false;  // holds received bytes for a timer of its driver (16 ms by default)
};

// The chip behind a USB vendor:product pair, or null when nothing is known of it.
const UsbChip* FindUsbChip(uint16_t vendorId, uint16_t productId);
// A chip's notes as text (none for an unknown chip), for the command line's JSON.
std::vector<std::string> ChipNotes(const UsbChip* chip);

}  // namespace kline
