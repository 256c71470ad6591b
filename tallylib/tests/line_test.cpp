// The Win32 line layer on Wine's COM ports: COM1 and COM2 are the two ends
// of a pty pair, COM3 a plain file (a device that opens but is no serial
// line), COM4 a device that does not exist. Run by line_session.py; exit
// code = failures.
#include <windows.h>

#include <cstdio>
#include <string>

#include "check.h"
#include "comm.h"

namespace {

ULONGLONG Ticks(const FILETIME &t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

HANDLE OpenPeer()
{
    HANDLE peer = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (peer == INVALID_HANDLE_VALUE) return peer;
    COMMTIMEOUTS quick = {MAXDWORD, 0, 0, 0, 1000};
    SetCommTimeouts(peer, &quick);
    return peer;
}

std::string ReadPeer(HANDLE peer, size_t want)
{
    std::string got;
    DWORD start = GetTickCount();
    while (got.size() < want && GetTickCount() - start < 2000) {
        char buffer[256];
        DWORD n = 0;
        if (ReadFile(peer, buffer, sizeof buffer, &n, nullptr) && n > 0) got.append(buffer, n);
        else Sleep(5);
    }
    return got;
}

void OpensAnExistingDevice()
{
    // The premise: opening an existing device with OPEN_ALWAYS reports
    // ERROR_ALREADY_EXISTS, and that is no failure.
    HANDLE h = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD error = GetLastError();
    std::printf("CreateFileA(COM1, OPEN_ALWAYS): %s, last error %lu\n", h != INVALID_HANDLE_VALUE ? "handle" : "failed",
                error);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    CHECK_EQ(0, _CommOpen("1", 19200, 'E', 7, 2), "open COM1");
    CHECK_EQ(0, _CommClose(), "close");
    // Closing gave the port back: it opens again.
    CHECK_EQ(0, _CommOpen("1", 2400, 'N', 8, 1), "reopen COM1");
    CHECK_EQ(0, _CommClose(), "close again");
}

void MovesBytes()
{
    HANDLE peer = OpenPeer();
    CHECK(peer != INVALID_HANDLE_VALUE);
    CHECK_EQ(0, _CommOpen("1", 38400, 'N', 8, 1), "open");
    DWORD wrote = 0;
    WriteFile(peer, "OK\r\n\xff", 5, &wrote, nullptr);
    DWORD start = GetTickCount();
    while (_CommCharsWaiting() < 5 && GetTickCount() - start < 2000) _CommWaitInput(5);
    CHECK_EQ(5L, _CommCharsWaiting(), "bytes waiting");
    std::string got;
    for (int i = 0; i < 5; ++i) got += static_cast<char>(_CommReadChar());
    CHECK_EQ(std::string("OK\r\n\xff"), got, "bytes read");
    CHECK_EQ(0L, _CommCharsWaiting(), "queue empty");
    CHECK_EQ(0xFF, _CommReadChar(), "a read with nothing there returns at once");

    std::string block(1500, '\xa5');
    block.back() = '\n';
    CHECK_EQ(1500L, _CommWriteString(block.data(), 1500), "block written in one call");
    CHECK_EQ(0, _CommWriteChar('!'), "one byte");
    CHECK_EQ(true, ReadPeer(peer, 1501) == block + "!", "peer got the block and the byte");
    CHECK_EQ(-1L, _CommWriteString("x", 0), "length 0");
    CHECK_EQ(0, _CommSetBaud(14400), "speed change");
    CHECK_EQ(0, _CommSetLine(1200, 'O', 7, 1), "line change");

    // An idle wait gives the processor back and ends on its own.
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelBefore, &userBefore);
    start = GetTickCount();
    while (GetTickCount() - start < 500) _CommWaitInput(5);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelAfter, &userAfter);
    ULONGLONG used = Ticks(userAfter) - Ticks(userBefore) + Ticks(kernelAfter) - Ticks(kernelBefore);
    std::printf("processor time over 500 ms of idle waits: %llu ms\n", used / 10000);
    CHECK_EQ(true, used / 10000 < 250, "idle waits sleep");
    _CommClose();
    CloseHandle(peer);
}

void RefusesWhatIsNoLine()
{
    CHECK_EQ(-1, _CommOpen("3", 2400, 'N', 8, 1), "a plain file is no serial line");
    CHECK_EQ(-1, _CommOpen("4", 2400, 'N', 8, 1), "missing device");
    CHECK_EQ(-1, _CommOpen(nullptr, 2400, 'N', 8, 1), "no port text");
    // Nothing works on a closed line.
    CHECK_EQ(0L, _CommCharsWaiting(), "closed: waiting");
    CHECK_EQ(0xFF, _CommReadChar(), "closed: read");
    CHECK_EQ(-1, _CommWriteChar('a'), "closed: write char");
    CHECK_EQ(-1L, _CommWriteString("abc", 3), "closed: write");
    CHECK_EQ(-1, _CommSetBaud(2400), "closed: speed");
    CHECK_EQ(-1, _CommSetDTR(1), "closed: DTR");
    CHECK_EQ(0, _CommClose(), "closed: close");
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("opening\n");
    OpensAnExistingDevice();
    std::printf("moving bytes\n");
    MovesBytes();
    std::printf("refusing\n");
    RefusesWhatIsNoLine();
    std::printf("%d failures\n", CheckFailures());
    return CheckFailures();
}
