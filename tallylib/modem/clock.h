// The millisecond tick the timers age by (wraps after 2^32).
#pragma once

unsigned long _ClockTick();
