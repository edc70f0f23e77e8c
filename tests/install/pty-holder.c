// A pseudo-terminal for the install check to hand a panel in place of a serial port.
// Prints the device path as the first line on stdout, then reads and discards whatever the
// panel sends, until it is ended by a signal.
#define _XOPEN_SOURCE 600
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(void) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        perror("pty-holder");
        return 1;
    }
    const char* device = ptsname(master);
    if (device == NULL) {
        perror("pty-holder");
        return 1;
    }
    // Keeping a descriptor of the device open ourselves spares the master a hang-up (and a
    // busy poll) while no panel has it open.
    const int keep = open(device, O_RDWR | O_NOCTTY);
    if (keep < 0) {
        perror("pty-holder");
        return 1;
    }
    printf("%s\n", device);
    fflush(stdout);

    struct pollfd fd = {master, POLLIN, 0};
    char buffer[256];
    for (;;) {
        if (poll(&fd, 1, -1) < 0) {
            if (errno == EINTR) continue;
            perror("pty-holder");
            return 1;
        }
        if (fd.revents & POLLIN) {
            if (read(master, buffer, sizeof buffer) < 0 && errno != EINTR && errno != EAGAIN) {
                perror("pty-holder");
                return 1;
            }
        }
    }
}
