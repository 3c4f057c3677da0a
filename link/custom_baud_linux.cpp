#include "link/custom_baud.h"

// Linux's own termios, apart from the C library's: its speed can be any
// number (BOTHER). The two cannot share a file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace orvik {

bool setCustomBaud(int fd, int baud)
{
    termios2 line{};
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return false;
    line.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    line.c_ispeed = speed_t(baud);
    line.c_ospeed = speed_t(baud);
    return ::ioctl(fd, TCSETS2, &line) == 0;
}

} // namespace orvik
