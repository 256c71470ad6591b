// The millisecond clock.
#pragma once
#include <cstdint>

// Milliseconds since some fixed moment; wraps after 2^32.
uint32_t TickCount();
void SleepMs(uint32_t milliseconds);
