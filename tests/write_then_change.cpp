// Test helper: writes the 0x45 frame to PATH at 19200 8N1 raw and at once
// sets the line to 9600, the way a tool that restores settings on exit does.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 1;
    termios tio{};
    tio.c_cflag = CS8 | CREAD | CLOCAL;
    cfsetospeed(&tio, B19200);
    cfsetispeed(&tio, B19200);
    const unsigned char frame[] = {0x45, 1, 1, 1, 1, 1, 0, 0};
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || write(fd, frame, sizeof frame) != sizeof frame)
        return 1;
    cfsetospeed(&tio, B9600);
    cfsetispeed(&tio, B9600);
    return tcsetattr(fd, TCSANOW, &tio) == 0 && close(fd) == 0 ? 0 : 1;
}
