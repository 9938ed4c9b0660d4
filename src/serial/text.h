#pragma once

// Text as the line, the files and the user give it.
#include <cstdint>
#include <string>

#include "ui/eventsink.h"

namespace kline {

// Without the blanks (space, tab, CR, LF) at either end.
std::string Trim(const std::string& s);

// Bytes read as 8-bit text (a byte per character, as the ECU's records are), kept as UTF-8 like
// every other text of the windows.
std::string EightBitText(const ByteString& bytes);

// One byte as two upper-case hex digits: 0x0F -> "0F".
std::string HexByte(uint8_t b);

}  // namespace kline
