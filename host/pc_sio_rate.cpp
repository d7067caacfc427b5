// Exact line rates through the Linux termios2 interface, so that the rates
// without a POSIX speed constant (14400, 56000, 128000, 256000 baud) are set
// exactly rather than rounded to a neighbour. Kept apart from pc_sio.cpp:
// the kernel's termios2 header cannot share a translation unit with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

int sio_set_line_rate(int fd, int rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(rate);
  tio.c_ospeed = static_cast<speed_t>(rate);
  return ioctl(fd, TCSETS2, &tio) == 0 ? 1 : 0;
}

int sio_get_line_rate(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return static_cast<int>(tio.c_ospeed);
}
