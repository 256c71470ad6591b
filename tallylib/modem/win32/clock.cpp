#include "clock.h"

#include <windows.h>

unsigned long _ClockTick() { return GetTickCount(); }
