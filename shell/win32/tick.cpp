// The millisecond clock of the system.
#include "tick.h"

#include <windows.h>

uint32_t TickCount() {
    return GetTickCount();
}

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}
