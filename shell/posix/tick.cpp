// The millisecond clock on a monotonic source, so wall-clock changes never
// stretch or cut a countdown.
#include "tick.h"

#include <cerrno>
#include <ctime>

uint32_t TickCount() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                  static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t milliseconds) {
    timespec left;
    left.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    left.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    // A signal cuts the sleep short; sleep on for what remains.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
