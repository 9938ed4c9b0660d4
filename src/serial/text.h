#pragma once

// Text as the line, the files and the user give it.
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/eventsink.h"

namespace kline {

// Without the blanks (space, tab, CR, LF) at either end.
std::string Trim(const std::string& s);

// Bytes read as 8-bit text (a byte per character, as the ECU's records are), kept as UTF-8 like
// every other text of the windows.
std::string EightBitText(const ByteString& bytes);

// One byte as two upper-case hex digits: 0x0F -> "0F".
std::string HexByte(uint8_t b);
// Bytes as upper-case hex pairs, `between` between two pairs: {0x0F, 0x55} -> "0F55", or
// "0F 55" with " ".
std::string ToHex(const ByteString& bytes, std::string_view between = {});

// The letters A to Z as a to z; every other byte, UTF-8 ones included, as it is. For the words
// the program compares (ECU types, port names, test names, searches), in any locale.
std::string AsciiLower(std::string s);

// The text with each byte that is not part of a UTF-8 character (a stray continuation byte, a
// byte no character starts with, a character cut short, overlong or beyond U+10FFFF, a
// surrogate) replaced by U+FFFD, for output that must be UTF-8 (JSON).
std::string ValidUtf8(const std::string& s);

// A text as a terminal may be given it: every control character but the line end, which could
// move the cursor, clear or recolour the screen, shows as "\x1B" instead. The text is read as
// UTF-8, as all the program's texts are; the controls U+0080 to U+009F (the ECU's bytes 0x80 to
// 0x9F as EightBitText keeps them) show as "\x80" to "\x9F", and so does a byte from 0x80 to
// 0x9F that is not part of a UTF-8 character, as an 8-bit terminal would take it for one. Every
// other character, and every other byte, passes as it is.
std::string TerminalText(const std::string& text);

}  // namespace kline
