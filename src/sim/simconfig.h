#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "connection/ecutypes.h"
#include "serial/serialport.h"

namespace kline {

// The protocol family of an ECU type's command-line name (EcuCliNames(), any case); throws
// std::invalid_argument.
EcuType ParseEcuType(const std::string& name);

// The description of a simulated ECU and its adapter, as the `--sim` JSON file gives it.
struct SimConfig {
  EcuType type = EcuType::E15m;
  bool typeGiven = false;  // the description names the type; else it follows the window
  int ignitionMs = 0;      // ms after the port opens when the ECU wakes and sends its burst
  ByteString burst;        // the wake-up burst, sent at 1200 baud (15m and 16m)
  double latencyMs = 2.0;  // from the end of a request to the start of the answer
  bool echo = true;        // the adapter echoes every byte written
  // The echo comes back with bits flipped (a noisy line, or a rate the adapter cannot do).
  bool garbleEcho = false;
  std::map<uint8_t, uint8_t> answers;     // register map overrides: code -> answer byte
  std::set<uint8_t> silent;               // codes never answered
  std::map<uint8_t, ByteString> replies;  // code -> exact bytes instead of echo and answer
  std::map<uint8_t, uint8_t> wrongEcho;   // code -> the byte echoed instead of it
  std::map<uint8_t, ByteString> stray;    // code -> extra bytes after the answer
  std::map<uint8_t, double> lateMs;       // code -> latency of that answer instead of latencyMs
  int silentAfterMs = -1;                 // the ECU stops answering this long after open
  int lostAfterMs = -1;  // the adapter goes away (as if unplugged) this long after open
  ByteString babble;     // sent over and over without a pause from wake-up on

  // An actuator test in diagnostic mode: the answer at once, then the verdict bytes (usually
  // one; empty: no verdict ever) after a while.
  struct Test {
    uint8_t answer = 0x00;
    ByteString verdict = ByteString(1, '\xFF');
    int afterMs = 3000;
  };
  std::map<uint8_t, Test> tests;  // code -> behaviour; codes 0x80..0x89 default to Test{}

  static ByteString DefaultBurst();
  // Parses the JSON description; `type` applies when the file names none. Throws
  // std::runtime_error with a message that names the bad key.
  static SimConfig FromJson(const std::string& json, EcuType defaultType);
};

// The largest simulator description read: anything bigger is refused before it is parsed.
constexpr std::size_t kMaxSimFileBytes = 1024 * 1024;

// Reads a simulator description of at most kMaxSimFileBytes into `text`; returns why it cannot
// (the system's reason or the size), or an empty text.
std::string ReadSimFile(const std::string& path, std::string& text);

// Hex text "0F 55aa" -> bytes; blanks are skipped. Throws std::invalid_argument.
ByteString ParseHexBytes(const std::string& hex);

}  // namespace kline
