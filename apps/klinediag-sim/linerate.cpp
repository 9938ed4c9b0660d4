// Kept apart: the kernel's termios2 headers clash with the C library's <termios.h>.
#include "linerate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace kline {

int SlaveBaudRate(int masterFd) {
  struct termios2 t {};
  if (ioctl(masterFd, TCGETS2, &t) != 0) return 0;
  return static_cast<int>(t.c_ospeed);
}

}  // namespace kline
