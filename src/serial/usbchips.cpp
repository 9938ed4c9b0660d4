#include "serial/usbchips.h"

namespace kline {

namespace {

constexpr std::string_view kFtdiWorks =
    "works on the K-line: the driver sets 7812 baud within 0.01 %";
constexpr std::string_view kFtdiTimer =
    "has a USB latency timer, 16 ms by default, which holds every answer back; 1 ms suits the "
    "K-line";

const UsbChip kFtdiChips[] = {
    {"FTDI", "FTDI FT232R or FT232B", {kFtdiWorks, kFtdiTimer}, true},
    {"FTDI", "FTDI FT2232", {kFtdiWorks, kFtdiTimer}, true},
    {"FTDI", "FTDI FT4232", {kFtdiWorks, kFtdiTimer}, true},
    {"FTDI", "FTDI FT232H", {kFtdiWorks, kFtdiTimer}, true},
    {"FTDI", "FTDI FT-X (FT230X, FT231X)", {kFtdiWorks, kFtdiTimer}, true},
    {"FTDI", "FTDI chip", {kFtdiWorks, kFtdiTimer}, true},
};

constexpr std::string_view kChWorks = "works on the K-line with most cables";
constexpr std::string_view kChRate =
    "7812 baud is not a standard rate: recent drivers set it closely; an old driver may round "
    "it or refuse it (if the 7812 baud echo fails, update the driver)";
const UsbChip kCh340 = {"CH340/CH341", "CH340", {kChWorks, kChRate}, false};
const UsbChip kCh341 = {"CH340/CH341", "CH341", {kChWorks, kChRate}, false};

const UsbChip kPl2303 = {
    "PL2303",
    "PL2303",
    {"old (HXA, X) and counterfeit PL2303 chips are refused by current Windows drivers: Device "
     "Manager shows \"This device cannot start. (Code 10)\"",
     "then install an older driver version of the chip maker's, or use a cable with another chip "
     "(FTDI, CH340); Linux takes them all",
     "the oldest chips may round the non-standard 7812 baud to a standard rate"},
    false};
const UsbChip kPl2303G = {
    "PL2303",
    "PL2303G (GC, GB, GT, GL, GE, GS)",
    {"a recent PL2303 generation: needs a recent driver (on Windows the chip maker's current "
     "one)"},
    false};

const UsbChip kCp210x = {
    "CP210x",
    "CP210x (CP2102, CP2102N, CP2104)",
    {"works on the K-line with most cables",
     "older chips (CP2102) take non-standard rates from their own rate table: 7812 baud may be "
     "rounded to a nearby rate (if the 7812 baud echo is garbled, try a cable with another "
     "chip)"},
    false};

}  // namespace

const UsbChip* FindUsbChip(uint16_t vendorId, uint16_t productId) {
  switch (vendorId) {
    case 0x0403:
      switch (productId) {
        case 0x6001:
          return &kFtdiChips[0];
        case 0x6010:
          return &kFtdiChips[1];
        case 0x6011:
          return &kFtdiChips[2];
        case 0x6014:
          return &kFtdiChips[3];
        case 0x6015:
          return &kFtdiChips[4];
        default:
          // Cable makers program ids of their own under FTDI's vendor id.
          return &kFtdiChips[5];
      }
    case 0x1a86:
      if (productId == 0x7523) return &kCh340;
      if (productId == 0x5523) return &kCh341;
      return nullptr;
    case 0x067b:
      if (productId == 0x2303) return &kPl2303;
      if (productId >= 0x23a3 && productId <= 0x23f3 && (productId & 0xf) == 3) return &kPl2303G;
      return nullptr;
    case 0x10c4:
      return productId == 0xea60 ? &kCp210x : nullptr;
    default:
      return nullptr;
  }
}

std::vector<std::string> ChipNotes(const UsbChip* chip) {
  std::vector<std::string> notes;
  if (chip)
    for (std::string_view n : chip->notes) notes.emplace_back(n);
  return notes;
}

}  // namespace kline
