// A monotonic millisecond tick: wall-clock changes never stretch a time-out.
#include "clock.h"

#include <cstdint>
#include <ctime>

unsigned long _ClockTick()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<unsigned long>(ms & 0xFFFFFFFFu);
}
