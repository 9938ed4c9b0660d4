#pragma once

// Every text by which the tool names an ECU fault or state, and the bit decoding that picks them.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kline {

// One text per bit, index 1..8 from bit 7 (0x80) down to bit 0 (0x01); element 0 is unused so
// that the tables read by the same index as the bit string. An empty text is never written.
using BitTexts = std::array<std::string_view, 9>;
// Two texts per bit: entry 2 * (i - 1) when bit i is clear, entry 2 * (i - 1) + 1 when set.
using BitPairTexts = std::array<std::string_view, 16>;

// Immobiliser state, request 0x71 (main window).
inline constexpr BitTexts immotab = {"",
                                     "Virgin ECU",
                                     "ECU in prohibit engine management",
                                     "universal code received",
                                     "",
                                     "",
                                     "Erroneous keycode",
                                     "Unknow or not recognised code",
                                     "No code received or link interrupted"};

// Immobiliser state, request 0x72 (main window).
inline constexpr BitTexts immotab2 = {
    "",
    "",
    "",
    "",
    "",
    "",
    "Erroneous key code 10.10.10.10.10 transmitted by immobiliser",
    "unknow or not recognised code",
    "No code received or link interrupted"};

// First fault byte (memory window).
inline constexpr BitTexts errtab1 = {"",
                                     "VAE blocked open or closed",
                                     "Mixure ratio at limit range",
                                     "Air temperature sensor",
                                     "Knock",
                                     "Water temperature",
                                     "Lamba sensor disconnected or faulty",
                                     "Pressure sensor",
                                     "throttle valve position sensor"};

// Second fault byte (memory window).
inline constexpr BitTexts errtab2 = {
    "",           "Cam sensor",           "Signal panel sequence", "Eprom",
    "EEprom",     "Neutral/drive signal", "Digimatic signal",      "Ram memory",
    "Smot sensor"};

// Kind of fault (memory window).
inline constexpr BitPairTexts errtype = {"Maximun enrichment",
                                         "Maximun leaning down",
                                         "Air temp sensor o.c",
                                         "Air temp sensor s.c",
                                         "Water temp sensor o.c",
                                         "Water temp sensor s.c",
                                         "Throttle valve potentiometer o.c",
                                         "Throttle valve potentiometer s.c",
                                         "Arrival of 6 Smot s.c",
                                         "Arrival of 6 Smot s.c",
                                         "Smot o.c",
                                         "Smot s.c",
                                         "Cam o.c",
                                         "Cam s.c",
                                         "Pressure sensor o.c",
                                         "Pressure sensor s.c"};

// Engine state (memory window).
inline constexpr BitPairTexts statetab = {"Power On,no digimatic gear change",
                                          "Power On,no digimatic gear change",
                                          "Decrease in advance for detonation",
                                          "No decrease in advance for detonation",
                                          "Awaiting recognition of signal panel",
                                          "Signal panel OK",
                                          "Partialised",
                                          "Throttle valve minimum or partial open",
                                          "ABS not active",
                                          "ABS active",
                                          "Absence of conditioner command",
                                          "Conditionner active",
                                          "Neutral position",
                                          "Drive position",
                                          "VAE normal operation",
                                          "Sel cleaning underway"};

// Hex digits to bits, most significant first: "A5" -> "10100101". Digits of either case; any
// other character adds nothing (callers pass only hex digits).
std::string HexToBin(std::string_view hex);

// The texts of the set bits of `bits` (a HexToBin result), from index 1 on; empty texts skipped.
std::vector<std::string> SetBitTexts(const BitTexts& table, std::string_view bits);
// One text per bit for indexes 1..8; a missing character of `bits` counts as a clear bit.
std::vector<std::string> BitPairLines(const BitPairTexts& table, std::string_view bits);

// The thirteen lines of the fault readout for the fault bytes f1, f2 and the kind byte k.
std::vector<std::string> FaultLines(uint8_t f1, uint8_t f2, uint8_t k);

}  // namespace kline
