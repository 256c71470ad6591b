// The countdown-timer pool: ten slots of remaining milliseconds that all age
// together whenever any one of them is checked.
#include <cstdint>

#include "clock.h"
#include "pump.h"
#include "wait.h"

namespace {

constexpr int32_t FREE_SLOT = -1;
constexpr long LONGEST = INT32_MAX / 10;

int32_t timers[TIMER_SLOTS] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
unsigned long referenceTick = 0;
bool poolStarted = false;

unsigned long ReadTick()
{
    // 0xFFFFFFFF is what a failed read gives on some systems: read again.
    unsigned long tick = _ClockTick() & 0xFFFFFFFFul;
    if (tick == 0xFFFFFFFFul) tick = _ClockTick() & 0xFFFFFFFFul;
    return tick;
}

bool ValidIndex(int i) { return i >= 0 && i < TIMER_SLOTS; }

// Takes the time since the last look off every running timer.
void AgeTimers()
{
    unsigned long now = ReadTick();
    unsigned long elapsed = (now - referenceTick) & 0xFFFFFFFFul;
    referenceTick = now;
    for (int32_t &slot : timers) {
        if (slot == FREE_SLOT) continue;
        if (static_cast<unsigned long>(slot) > elapsed) slot -= static_cast<int32_t>(elapsed);
        else slot = 0;
    }
}

}  // namespace

int _TimerStart(long t)
{
    if (!poolStarted) {
        for (int32_t &slot : timers) slot = FREE_SLOT;
        referenceTick = ReadTick();
        poolStarted = true;
    } else {
        // Bring the pool up to now first: the time since the last check
        // (a pause, another wait) belongs to the running timers, not to this one.
        AgeTimers();
    }
    if (t < 0) t = 0;
    if (t > LONGEST) t = LONGEST;
    for (int i = 0; i < TIMER_SLOTS; ++i) {
        if (timers[i] == FREE_SLOT) {
            timers[i] = static_cast<int32_t>(t * 10);
            return i;
        }
    }
    return -1;
}

int _TimerCheck(int i)
{
    _PumpMessages();
    AgeTimers();
    if (ValidIndex(i) && timers[i] == 0) {
        timers[i] = FREE_SLOT;
        return TIMER_EXPIRED;
    }
    return TIMER_RUNNING;
}

void _TimerFree(int i)
{
    if (ValidIndex(i)) timers[i] = FREE_SLOT;
}

void _TimerResetAll()
{
    for (int32_t &slot : timers) slot = FREE_SLOT;
    poolStarted = false;
}

long _TimerRemaining(int i) { return ValidIndex(i) ? timers[i] : -1; }
