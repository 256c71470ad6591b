// The test's end of a pty pair, reached with plain descriptor calls.
#include "serial_peer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {
int peer = -1;
int held = -1;
char ordinaryFile[64];
}  // namespace

bool PeerOpen(const char* device) {
    peer = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (peer < 0) return false;
    termios line;
    if (tcgetattr(peer, &line) != 0) return false;
    cfmakeraw(&line);
    return tcsetattr(peer, TCSANOW, &line) == 0;
}

void PeerClose() {
    if (peer >= 0) close(peer);
    peer = -1;
}

bool PeerWrite(const uint8_t* data, int length) {
    int done = 0;
    while (done < length) {
        ssize_t wrote = write(peer, data + done, static_cast<size_t>(length - done));
        if (wrote > 0) {
            done += static_cast<int>(wrote);
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd entry = {peer, POLLOUT, 0};
        if (poll(&entry, 1, 2000) <= 0) return false;
    }
    return true;
}

int PeerReadSome(uint8_t* buffer, int length) {
    ssize_t got = read(peer, buffer, static_cast<size_t>(length));
    return got > 0 ? static_cast<int>(got) : 0;
}

bool HoldDevice(const char* device) {
    held = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0;
}

void ReleaseHeldDevice() {
    if (held >= 0) close(held);
    held = -1;
}

bool SecondOpenRefused() {
    return true;
}

namespace {
const tcflag_t kForeignInput = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP;

// Reads the device's settings and, with apply, writes back what change made of them.
bool EditSettings(const char* device, bool apply, bool (*change)(termios*)) {
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios line;
    bool ok = tcgetattr(fd, &line) == 0 && change(&line);
    if (ok && apply) ok = tcsetattr(fd, TCSANOW, &line) == 0;
    close(fd);
    return ok;
}
}  // namespace

bool LeaveForeignSettings(const char* device) {
    return EditSettings(device, true, [](termios* line) {
        line->c_iflag |= kForeignInput;
        line->c_oflag |= OPOST | ONLCR;
        line->c_lflag |= ICANON | ECHO | ISIG;
        return true;
    });
}

bool DeviceIsRaw(const char* device) {
    return EditSettings(device, false, [](termios* line) {
        return (line->c_iflag & kForeignInput) == 0 && (line->c_oflag & OPOST) == 0 &&
               (line->c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0;
    });
}

const char* MissingDeviceName() {
    return "/dev/mosslane-no-such-tty";
}

const char* CreateOrdinaryFile() {
    const char* dir = getenv("TMPDIR");
    snprintf(ordinaryFile, sizeof ordinaryFile, "%s/mosslane-plain-XXXXXX", dir ? dir : "/tmp");
    int fd = mkstemp(ordinaryFile);
    if (fd < 0) return nullptr;
    close(fd);
    return ordinaryFile;
}

void RemoveOrdinaryFile() {
    if (ordinaryFile[0] != '\0') unlink(ordinaryFile);
    ordinaryFile[0] = '\0';
}

namespace {
pthread_t background;
void (*backgroundJob)(void*);
void* backgroundArg;

void* RunBackgroundJob(void*) {
    backgroundJob(backgroundArg);
    return nullptr;
}
}  // namespace

bool StartBackground(void (*job)(void*), void* arg) {
    backgroundJob = job;
    backgroundArg = arg;
    return pthread_create(&background, nullptr, RunBackgroundJob, nullptr) == 0;
}

void JoinBackground() {
    pthread_join(background, nullptr);
}

double ProcessCpuSeconds() {
    rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool PrepareMessageQueue() { return false; }
void PostWakeMessage() {}
