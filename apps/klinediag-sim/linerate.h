#pragma once

namespace kline {

// The baud rate the other side of a pseudo-terminal has set, read through the master side with
// the kernel's arbitrary-rate request (a plain termios read only shows "custom"). 0 if unknown.
int SlaveBaudRate(int masterFd);

}  // namespace kline
