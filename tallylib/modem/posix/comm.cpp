// The modem line on a POSIX terminal device. Port n is the device named by
// the environment variable TALLYLIB_COM<n>, else /dev/ttyS<n-1>.
#include "comm.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "clock.h"
#include "line_settings.h"

namespace {

constexpr int NO_LINE = -1;
int lineHandle = NO_LINE;

bool Open() { return lineHandle != NO_LINE; }

speed_t SpeedCode(long rate)
{
    switch (_CommPortRate(rate)) {
    case 1200: return B1200;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    default: return B2400;
    }
}

tcflag_t SizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t ParityFlags(char parity)
{
    switch (_CommParityCode(parity)) {
    case 2: return PARENB;
    case 1: return PARENB | PARODD;
#ifdef CMSPAR
    case 3: return PARENB | PARODD | CMSPAR;
    case 4: return PARENB | CMSPAR;
#endif
    default: return 0;
    }
}

bool Configure(long rate, char parity, int dataBits, int stopBits)
{
    termios line;
    if (tcgetattr(lineHandle, &line) != 0) return false;
    if (!_CommBuildTermios(&line, rate, parity, dataBits, stopBits)) return false;
    return tcsetattr(lineHandle, TCSANOW, &line) == 0;
}

// A pty has no modem lines and refuses this.
int ModemLine(int on)
{
    int bits = TIOCM_DTR;
    return ioctl(lineHandle, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : -1;
}

void DevicePath(const char *port, char *out, size_t size)
{
    char variable[32];
    std::snprintf(variable, sizeof variable, "TALLYLIB_COM%s", port);
    const char *named = std::getenv(variable);
    if (named && named[0]) {
        std::snprintf(out, size, "%s", named);
        return;
    }
    std::snprintf(out, size, "/dev/ttyS%d", std::atoi(port) - 1);
}

}  // namespace

bool _CommBuildTermios(termios *line, long rate, char parity, int dataBits, int stopBits)
{
    // Raw from nothing, no flow control: the bytes pass untouched.
    tcflag_t parityFlags = ParityFlags(parity);
    line->c_iflag = parityFlags ? INPCK : 0;
    line->c_oflag = 0;
    line->c_lflag = 0;
    line->c_cflag = SizeFlag(dataBits) | parityFlags | CLOCAL | CREAD;
    if (_CommStopCode(stopBits) == 2) line->c_cflag |= CSTOPB;
    for (cc_t &c : line->c_cc) c = 0;
    line->c_cc[VMIN] = 0;
    line->c_cc[VTIME] = 0;
    speed_t speed = SpeedCode(rate);
    return cfsetispeed(line, speed) == 0 && cfsetospeed(line, speed) == 0;
}

int _CommOpen(const char *port, long rate, char parity, int dataBits, int stopBits)
{
    if (!port) return -1;
    if (Open()) _CommClose();
    char path[256];
    DevicePath(port, path, sizeof path);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // Held by another program: refuse, as the exclusive open elsewhere does.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return -1;
    }
    lineHandle = fd;
    if (!Configure(rate, parity, dataBits, stopBits)) {
        close(fd);
        lineHandle = NO_LINE;
        return -1;
    }
    ModemLine(1);
    return 0;
}

int _CommSetLine(long rate, char parity, int dataBits, int stopBits)
{
    if (!Open()) return -1;
    return Configure(rate, parity, dataBits, stopBits) ? 0 : -1;
}

int _CommSetBaud(long rate)
{
    if (!Open()) return -1;
    termios line;
    if (tcgetattr(lineHandle, &line) != 0) return -1;
    speed_t speed = SpeedCode(rate);
    if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) return -1;
    return tcsetattr(lineHandle, TCSANOW, &line) == 0 ? 0 : -1;
}

int _CommSetDTR(int on)
{
    if (!Open()) return -1;
    return ModemLine(on);
}

int _CommClose()
{
    if (!Open()) return 0;
    ModemLine(0);
    tcdrain(lineHandle);
    close(lineHandle);
    lineHandle = NO_LINE;
    return 0;
}

long _CommCharsWaiting()
{
    if (!Open()) return 0;
    int waiting = 0;
    if (ioctl(lineHandle, FIONREAD, &waiting) != 0) return 0;
    return waiting;
}

int _CommReadChar()
{
    if (!Open()) return 0xFF;
    unsigned char byte = 0;
    return read(lineHandle, &byte, 1) == 1 ? byte : 0xFF;
}

int _CommWriteChar(unsigned char byte) { return _CommWriteString(&byte, 1) == 1 ? 0 : -1; }

long _CommWriteString(const void *buffer, long length)
{
    if (!Open() || length < 1) return -1;
    const unsigned char *bytes = static_cast<const unsigned char *>(buffer);
    const unsigned long deadline = (_ClockTick() + 100ul * static_cast<unsigned long>(length) + 100ul) & 0xFFFFFFFFul;
    long done = 0;
    while (done < length) {
        ssize_t wrote = write(lineHandle, bytes + done, static_cast<size_t>(length - done));
        if (wrote > 0) {
            done += wrote;
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) break;
        long left = static_cast<long>((deadline - _ClockTick()) & 0xFFFFFFFFul);
        if (left <= 0 || left > 100l * length + 100l) break;
        pollfd entry = {lineHandle, POLLOUT, 0};
        poll(&entry, 1, static_cast<int>(left < 50 ? left : 50));
    }
    return done;
}

void _CommWaitInput(unsigned long ms)
{
    if (!Open()) {
        timespec pause = {0, static_cast<long>(ms) * 1000000L};
        nanosleep(&pause, nullptr);
        return;
    }
    pollfd entry = {lineHandle, POLLIN, 0};
    // A far end that has gone away answers every poll at once: nap instead.
    if (poll(&entry, 1, static_cast<int>(ms)) > 0 && !(entry.revents & POLLIN)) {
        timespec pause = {0, static_cast<long>(ms) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}
