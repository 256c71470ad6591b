// Waits that keep the calling thread's windows alive.
#pragma once

// Dispatches every message waiting for the calling thread.
void _PumpMessages();
// Polls and dispatches until ms milliseconds have passed; the time elapsed.
unsigned long _PumpMessagesFor(unsigned long ms);
// _PumpMessagesFor(seconds x 1000).
unsigned long _WaitSeconds(unsigned long seconds);
