// Without a window system there are no messages: pauses just sleep.
#include "pump.h"

#include <cstdint>
#include <ctime>

namespace {

uint64_t NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

void _PumpMessages() {}

unsigned long _PumpMessagesFor(unsigned long ms)
{
    const uint64_t start = NowMs();
    for (;;) {
        uint64_t elapsed = NowMs() - start;
        if (elapsed >= ms) return static_cast<unsigned long>(elapsed);
        uint64_t left = ms - elapsed;
        timespec pause = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

unsigned long _WaitSeconds(unsigned long seconds) { return _PumpMessagesFor(seconds * 1000); }
