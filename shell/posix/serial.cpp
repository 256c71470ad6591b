// The serial line on a POSIX terminal device: raw 8N1, reads that never wait.
#include "serial.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "tick.h"

namespace {

enum : int { NoPort = -1, PurgeChunk = 64, WriteGraceMs = 500 };

int serialPortHandle = NoPort;
uint32_t lineRate = 0;  // bit/s of the open line, for the time bytes take on it

struct SpeedEntry {
    uint32_t rate;
    speed_t speed;
};

const SpeedEntry kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
    {230400, B230400},
};

bool SpeedFor(uint32_t rate, speed_t* speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.rate == rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

bool ApplyLineSettings(int fd, uint32_t baudRate, uint8_t handShake) {
    speed_t speed;
    termios line;
    if (!SpeedFor(baudRate, &speed) || tcgetattr(fd, &line) != 0) return false;
    // Built from nothing: no setting a previous program left (software flow
    // control, character mapping) may touch the bytes.
    line.c_iflag = 0;
    line.c_oflag = 0;
    line.c_lflag = 0;
    line.c_cflag = CS8 | CLOCAL | CREAD;
    if (handShake == HandshakeCts) line.c_cflag |= CRTSCTS;
    for (cc_t& c : line.c_cc) c = 0;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) return false;
    return tcsetattr(fd, TCSANOW, &line) == 0;
}

// A pty has no modem lines and refuses this; a real port then holds DTR and RTS on.
void RaiseModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
}

// Waits until the device can take more output or the deadline passes.
bool AwaitWritable(uint32_t deadline) {
    int32_t left = static_cast<int32_t>(deadline - TickCount());
    if (left <= 0) return false;
    pollfd entry = {serialPortHandle, POLLOUT, 0};
    return poll(&entry, 1, left) >= 0 || errno == EINTR;
}

// A non-blocking device may take a block in pieces. Like a timed-out write on
// the other platform, running out of time part-way still counts as success.
int WriteAll(const uint8_t* data, int length) {
    if (serialPortHandle == NoPort || length < 0) return 0;
    const uint32_t deadline = TickCount() + static_cast<uint32_t>(length) + WriteGraceMs;
    int done = 0;
    while (done < length) {
        ssize_t wrote = write(serialPortHandle, data + done, static_cast<size_t>(length - done));
        if (wrote > 0) {
            done += static_cast<int>(wrote);
        } else if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
            return 0;
        } else if (!AwaitWritable(deadline)) {
            return 1;
        }
    }
    return 1;
}

// Sleeps up to milliseconds; a signal ends the sleep early so that a stop
// request is seen at once.
void Nap(uint32_t milliseconds) {
    timespec span;
    span.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    span.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    nanosleep(&span, nullptr);
}

int BytesWaiting() {
    int count = 0;
    return ioctl(serialPortHandle, FIONREAD, &count) == 0 ? count : 0;
}

// Whole milliseconds that count bytes take on the line, 10 bits each, rounded
// down so that the sleep ends before the last of them has come.
uint32_t LineTimeMs(int count) {
    if (lineRate == 0 || count <= 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(count) * 10u * 1000u / lineRate);
}

}  // namespace

int SerialAwaitInput(uint32_t milliseconds, int16_t wanted) {
    if (serialPortHandle == NoPort) {
        Nap(milliseconds);
        return AwaitedNothing;
    }
    const uint32_t start = TickCount();
    pollfd entry = {serialPortHandle, POLLIN, 0};
    const int timeout = milliseconds > INT32_MAX ? INT32_MAX : static_cast<int>(milliseconds);
    if (poll(&entry, 1, timeout) <= 0) return AwaitedNothing;
    if ((entry.revents & POLLIN) == 0) {
        // A line whose other end has gone reports that at once, every time:
        // sleep instead of spinning on it.
        Nap(milliseconds);
        return AwaitedNothing;
    }
    const uint32_t spent = TickCount() - start;
    if (spent >= milliseconds) return AwaitedInput;
    uint32_t rest = LineTimeMs(wanted - BytesWaiting());
    if (rest > milliseconds - spent) rest = milliseconds - spent;
    if (rest > 0) Nap(rest);
    return AwaitedInput;
}

uint16_t SerialReadByte(uint8_t* dest) {
    if (serialPortHandle == NoPort) return 0;
    return read(serialPortHandle, dest, 1) == 1 ? 1 : 0;
}

int16_t SerialReadBlock(uint8_t* buffer, int16_t length) {
    if (serialPortHandle == NoPort || length <= 0) return 0;
    ssize_t got = read(serialPortHandle, buffer, static_cast<size_t>(length));
    return got > 0 ? static_cast<int16_t>(got) : 0;
}

int SerialWriteByte(uint8_t byte) {
    return WriteAll(&byte, 1);
}

int SerialWriteBlock(const uint8_t* buffer, int16_t length) {
    return WriteAll(buffer, length);
}

void PurgeSerialInput() {
    uint8_t scratch[PurgeChunk];
    while (SerialReadBlock(scratch, PurgeChunk) > 0) {
    }
}

int SerialOpenDevice(const char* device, uint32_t baudRate, uint8_t handShake) {
    SerialCloseDevice();
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    // Held by another program: refuse, as an exclusive open would.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    serialPortHandle = fd;
    if (ioctl(fd, TIOCEXCL) != 0 || !ApplyLineSettings(fd, baudRate, handShake)) return 0;
    RaiseModemLines(fd);
    lineRate = baudRate;
    return 1;
}

void SerialCloseDevice() {
    if (serialPortHandle == NoPort) return;
    close(serialPortHandle);
    serialPortHandle = NoPort;
    lineRate = 0;
}
