// Waiting for the modem and the server: the countdown-timer pool, ttrap, the
// line reader and send-and-wait. Times are in hundredths of a second.
#pragma once

// ttrap results beside the index (0 to 9) of the string that arrived.
constexpr int TTRAP_ABORTED = 124;
constexpr int TTRAP_TIMEOUT = 126;
constexpr int TTRAP_BAD_LIST = -1;
// _TimerCheck results.
constexpr int TIMER_EXPIRED = 109;
constexpr int TIMER_RUNNING = 110;

constexpr int TIMER_SLOTS = 10;
constexpr int TTRAP_PATTERNS = 10;
constexpr int TTRAP_PATTERN_MAX = 14;

// A timer of t hundredths; its index 0 to 9, or -1 when all are in use.
int _TimerStart(long t);
// Pumps window messages, ages every running timer by the time since the last
// check, and reports timer i: 109 expired (its slot is freed), 110 otherwise.
int _TimerCheck(int i);
// Frees timer i; an index outside 0 to 9 is ignored.
void _TimerFree(int i);
// Frees every timer; the next start re-reads the reference tick.
void _TimerResetAll();
// Remaining milliseconds of timer i, -1 when free (for tests and traces).
long _TimerRemaining(int i);

// Waits until one of up to 10 strings (1 to 14 characters, the list ended by
// a null) has arrived: its index, 124 aborted, 126 timed out (0 = no time
// limit), -1 bad list. Bytes after the match stay queued.
int ttrap(long timeout, ...);
// The same with the strings in an array of count entries.
int ttrapList(long timeout, const char *const *strings, int count);
// Releases the pattern slots (at the end of a transmission).
void _PatternSlotsFree();

// Reads up to the terminator into buffer (capacity *length in, text length
// out), keeping the most recent bytes when the line is longer: 0 terminator
// seen, 124 aborted, 126 timed out (0 = no time limit).
int _CommReadLine(char *buffer, int *length, char terminator, long timeout, int echo);

// Writes command and waits for the answer, up to tries times: 1 answered,
// 124 aborted, 0 not answered.
int _ModemCommand(const char *command, const char *answer, long timeout, int tries);
