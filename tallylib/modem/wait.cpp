// ttrap, the line reader and send-and-wait: polling loops that read the line
// byte by byte, age the timers and keep the caller's windows alive.
#include <cstdarg>
#include <cstring>

#include "comm.h"
#include "memory.h"
#include "pump.h"
#include "state.h"
#include "status.h"
#include "wait.h"

namespace {

constexpr int PATTERN_SIZE = TTRAP_PATTERN_MAX + 1;
constexpr int RECEIVE_SIZE = 128;
// Longest nap between polls of an idle line: windows are served within 20 ms.
constexpr unsigned long IDLE_SLICE_MS = 5;
constexpr long HEARTBEAT = 100;
constexpr int BURST_CHECK = 128;

char *patternSlots = nullptr;
int patternLength[TTRAP_PATTERNS];
unsigned char patternLast[TTRAP_PATTERNS];
unsigned char lastSet[TTRAP_PATTERNS];
int lastSetSize = 0;

char *Pattern(int i) { return patternSlots + i * PATTERN_SIZE; }

void ClearPatterns()
{
    std::memset(patternSlots, 0, TTRAP_PATTERNS * PATTERN_SIZE);
    for (int i = 0; i < TTRAP_PATTERNS; ++i) {
        patternLength[i] = 0;
        patternLast[i] = 0;
        lastSet[i] = 0;
    }
    lastSetSize = 0;
}

bool InLastSet(unsigned char c)
{
    for (int i = 0; i < lastSetSize; ++i)
        if (lastSet[i] == c) return true;
    return false;
}

// Copies the list into the slots; the number taken, or -1 for a bad list.
int LoadPatterns(const char *const *strings, int count)
{
    int taken = 0;
    for (; taken < count && taken < TTRAP_PATTERNS && strings[taken]; ++taken) {
        const char *s = strings[taken];
        int length = static_cast<int>(std::strlen(s));
        if (length == 0) return -1;
        if (length > TTRAP_PATTERN_MAX) {
            _StatusMessage(STATUS_TRACE, 0, "Error - attempt to copy %d bytes into %d bytes of space.", length,
                           PATTERN_SIZE);
            _StatusMessage(STATUS_TRACE, 0, "        the string was >%s<", s);
            _StatusMessage(STATUS_TRACE, 0, "internal ttrap() error!");
            return -1;
        }
        std::memcpy(Pattern(taken), s, static_cast<size_t>(length) + 1);
        patternLength[taken] = length;
        patternLast[taken] = static_cast<unsigned char>(s[length - 1]);
        if (!InLastSet(patternLast[taken])) lastSet[lastSetSize++] = patternLast[taken];
    }
    return taken > 0 ? taken : -1;
}

// The first string, in list order, that the received bytes now end with.
int MatchAt(const char *received, int used, unsigned char c, int count)
{
    for (int i = 0; i < count; ++i) {
        int length = patternLength[i];
        if (patternLast[i] != c || used < length) continue;
        if (std::memcmp(received + used - length, Pattern(i), static_cast<size_t>(length)) == 0) return i;
    }
    return -1;
}

void SendHeartbeat() { _StatusMessage(STATUS_MAIN, 0, nullptr); }

// The timers and receive buffer of one ttrap call.
struct TrapCall {
    char *received = nullptr;
    int timeoutTimer = -1;
    int heartbeatTimer = -1;

    int Finish(int result)
    {
        _TimerFree(timeoutTimer);
        _TimerFree(heartbeatTimer);
        _MemFree(received);
        received = nullptr;
        return result;
    }
};

int TrapLoop(TrapCall &call, int count)
{
    int used = 0;
    for (;;) {
        if (_StateAbortWait()) return call.Finish(TTRAP_ABORTED);
        if (_CommCharsWaiting() > 0) {
            unsigned char c = static_cast<unsigned char>(_CommReadChar());
            call.received[used++] = static_cast<char>(c);
            call.received[used] = '\0';
            if (InLastSet(c)) {
                int match = MatchAt(call.received, used, c, count);
                if (match >= 0) return call.Finish(match);
            }
            // Keep the most recent bytes: no string is longer than 14.
            if (RECEIVE_SIZE - 1 - used < PATTERN_SIZE) {
                std::memmove(call.received, call.received + used - PATTERN_SIZE, PATTERN_SIZE);
                used = PATTERN_SIZE;
                call.received[used] = '\0';
            }
        } else {
            _CommWaitInput(IDLE_SLICE_MS);
        }
        bool pumped = false;
        if (call.timeoutTimer >= 0) {
            pumped = true;
            if (_TimerCheck(call.timeoutTimer) == TIMER_EXPIRED) {
                call.timeoutTimer = -1;
                return call.Finish(TTRAP_TIMEOUT);
            }
        }
        if (call.heartbeatTimer >= 0) {
            pumped = true;
            if (_TimerCheck(call.heartbeatTimer) == TIMER_EXPIRED) {
                SendHeartbeat();
                call.heartbeatTimer = _TimerStart(HEARTBEAT);
            }
        }
        // Without a timer to check the windows must still be served, or an
        // abort could never reach a wait without a time limit.
        if (!pumped) _PumpMessages();
    }
}

}  // namespace

int ttrapList(long timeout, const char *const *strings, int count)
{
    TrapCall call;
    call.received = static_cast<char *>(_MemAlloc(RECEIVE_SIZE));
    if (!patternSlots) patternSlots = static_cast<char *>(_MemAlloc(TTRAP_PATTERNS * PATTERN_SIZE));
    if (!call.received || !patternSlots || !strings) return call.Finish(TTRAP_BAD_LIST);
    call.received[0] = '\0';
    ClearPatterns();
    int taken = LoadPatterns(strings, count);
    if (taken < 0) return call.Finish(TTRAP_BAD_LIST);
    if (timeout != 0) {
        call.timeoutTimer = _TimerStart(timeout);
        if (call.timeoutTimer < 0) return call.Finish(TTRAP_TIMEOUT);
    }
    if (_StatusCodeMode()) {
        SendHeartbeat();
        call.heartbeatTimer = _TimerStart(HEARTBEAT);
        if (call.heartbeatTimer < 0) return call.Finish(TTRAP_TIMEOUT);
    }
    return TrapLoop(call, taken);
}

int ttrap(long timeout, ...)
{
    const char *strings[TTRAP_PATTERNS];
    int count = 0;
    va_list args;
    va_start(args, timeout);
    while (count < TTRAP_PATTERNS) {
        const char *s = va_arg(args, const char *);
        if (!s) break;
        strings[count++] = s;
    }
    va_end(args);
    return ttrapList(timeout, strings, count);
}

void _PatternSlotsFree()
{
    _MemFree(patternSlots);
    patternSlots = nullptr;
}

namespace {

struct LineCall {
    char *buffer;
    int *length;
    int held = 0;
    int timeoutTimer = -1;
    int heartbeatTimer = -1;

    int Finish(int result)
    {
        buffer[held] = '\0';
        *length = held;
        _TimerFree(timeoutTimer);
        _TimerFree(heartbeatTimer);
        return result;
    }

    void Store(char c, int capacity)
    {
        if (capacity <= 1) return;
        if (held == capacity - 1) {
            std::memmove(buffer, buffer + 1, static_cast<size_t>(held - 1));
            --held;
        }
        buffer[held++] = c;
    }

    bool TimedOut()
    {
        if (timeoutTimer < 0) return false;
        if (_TimerCheck(timeoutTimer) != TIMER_EXPIRED) return false;
        timeoutTimer = -1;
        return true;
    }
};

}  // namespace

int _CommReadLine(char *buffer, int *length, char terminator, long timeout, int echo)
{
    if (!buffer || !length || *length <= 0) return TTRAP_TIMEOUT;
    const int capacity = *length;
    LineCall call{buffer, length};
    if (timeout != 0) {
        call.timeoutTimer = _TimerStart(timeout);
        if (call.timeoutTimer < 0) return call.Finish(TTRAP_TIMEOUT);
    }
    call.heartbeatTimer = _TimerStart(HEARTBEAT);
    if (call.heartbeatTimer < 0) return call.Finish(TTRAP_TIMEOUT);
    for (;;) {
        if (_StateAbortWait()) return call.Finish(TTRAP_ABORTED);
        if (call.TimedOut()) return call.Finish(TTRAP_TIMEOUT);
        int burst = 0;
        while (_CommCharsWaiting() > 0) {
            char c = static_cast<char>(_CommReadChar());
            if (echo) _CommWriteChar(static_cast<unsigned char>(c));
            if (c == terminator) return call.Finish(0);
            call.Store(c, capacity);
            // An endless line must not outlast the time limit or an abort.
            if (++burst % BURST_CHECK == 0) {
                if (_StateAbortWait()) return call.Finish(TTRAP_ABORTED);
                if (call.TimedOut()) return call.Finish(TTRAP_TIMEOUT);
            }
        }
        if (_TimerCheck(call.heartbeatTimer) == TIMER_EXPIRED) {
            SendHeartbeat();
            call.heartbeatTimer = _TimerStart(HEARTBEAT);
        }
        if (burst == 0) _CommWaitInput(IDLE_SLICE_MS);
    }
}

int _ModemCommand(const char *command, const char *answer, long timeout, int tries)
{
    long length = static_cast<long>(std::strlen(command));
    for (int i = 0; i < tries; ++i) {
        _CommWriteString(command, length);
        int r = ttrap(timeout, answer, static_cast<const char *>(nullptr));
        if (r == 0) return 1;
        if (r == TTRAP_ABORTED) return TTRAP_ABORTED;
    }
    return 0;
}
