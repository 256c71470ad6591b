// The modem line on a Win32 communications device.
#include "comm.h"

#include <windows.h>

#include <cstdio>

namespace {

HANDLE lineHandle = INVALID_HANDLE_VALUE;

bool Open() { return lineHandle != INVALID_HANDLE_VALUE; }

void ClearErrors()
{
    DWORD errors = 0;
    ClearCommError(lineHandle, &errors, nullptr);
}

bool Configure(long rate, char parity, int dataBits, int stopBits)
{
    DCB state = {};
    state.DCBlength = sizeof state;
    if (!GetCommState(lineHandle, &state)) return false;
    state.BaudRate = static_cast<DWORD>(_CommPortRate(rate));
    state.ByteSize = static_cast<BYTE>(dataBits);
    state.Parity = static_cast<BYTE>(_CommParityCode(parity));
    state.StopBits = static_cast<BYTE>(_CommStopCode(stopBits));
    state.fBinary = 1;
    state.fParity = 1;
    state.fAbortOnError = 1;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.fOutX = 0;
    state.fInX = 0;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.XonLim = 100;
    state.XoffLim = 100;
    return SetCommState(lineHandle, &state) != 0;
}

}  // namespace

int _CommOpen(const char *port, long rate, char parity, int dataBits, int stopBits)
{
    if (!port) return -1;
    if (Open()) _CommClose();
    char deviceName[16];
    std::snprintf(deviceName, sizeof deviceName, "COM%s", port);
    // A device that exists is what we want: on NT the open of an existing
    // device leaves ERROR_ALREADY_EXISTS behind, which is no failure.
    HANDLE handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    lineHandle = handle;
    // A missing device may still give a handle: its line state is what fails.
    if (!Configure(rate, parity, dataBits, stopBits)) {
        CloseHandle(lineHandle);
        lineHandle = INVALID_HANDLE_VALUE;
        return -1;
    }
    SetCommMask(lineHandle, 0);
    EscapeCommFunction(lineHandle, SETDTR);
    // Reads return at once with what is there: whatever a previous program
    // left in the driver, a read never blocks.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 100, 100};
    SetCommTimeouts(lineHandle, &timeouts);
    return 0;
}

int _CommSetLine(long rate, char parity, int dataBits, int stopBits)
{
    if (!Open()) return -1;
    return Configure(rate, parity, dataBits, stopBits) ? 0 : -1;
}

int _CommSetBaud(long rate)
{
    if (!Open()) return -1;
    DCB state = {};
    state.DCBlength = sizeof state;
    if (!GetCommState(lineHandle, &state)) return -1;
    state.BaudRate = static_cast<DWORD>(_CommPortRate(rate));
    return SetCommState(lineHandle, &state) ? 0 : -1;
}

int _CommSetDTR(int on)
{
    if (!Open()) return -1;
    DCB state = {};
    state.DCBlength = sizeof state;
    if (!GetCommState(lineHandle, &state)) return -1;
    state.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    return SetCommState(lineHandle, &state) ? 0 : -1;
}

int _CommClose()
{
    if (!Open()) return 0;
    EscapeCommFunction(lineHandle, CLRDTR);
    FlushFileBuffers(lineHandle);
    ClearErrors();
    SetupComm(lineHandle, 1024, 1024);
    CloseHandle(lineHandle);
    lineHandle = INVALID_HANDLE_VALUE;
    return 0;
}

long _CommCharsWaiting()
{
    if (!Open()) return 0;
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(lineHandle, &errors, &status)) return 0;
    return static_cast<long>(status.cbInQue);
}

int _CommReadChar()
{
    if (!Open()) return 0xFF;
    unsigned char byte = 0;
    DWORD got = 0;
    if (!ReadFile(lineHandle, &byte, 1, &got, nullptr) || got != 1) {
        ClearErrors();
        return 0xFF;
    }
    return byte;
}

int _CommWriteChar(unsigned char byte)
{
    if (!Open()) return -1;
    // With abort-on-error a pending line error would refuse the write.
    ClearErrors();
    DWORD wrote = 0;
    BOOL ok = WriteFile(lineHandle, &byte, 1, &wrote, nullptr);
    ClearErrors();
    return ok && wrote == 1 ? 0 : -1;
}

long _CommWriteString(const void *buffer, long length)
{
    if (!Open() || length < 1) return -1;
    COMMTIMEOUTS timeouts = {};
    GetCommTimeouts(lineHandle, &timeouts);
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 100;
    SetCommTimeouts(lineHandle, &timeouts);
    ClearErrors();
    DWORD wrote = 0;
    WriteFile(lineHandle, buffer, static_cast<DWORD>(length), &wrote, nullptr);
    ClearErrors();
    return static_cast<long>(wrote);
}

void _CommWaitInput(unsigned long ms)
{
    if (_CommCharsWaiting() > 0) return;
    // Wakes for a window message too, so that an abort is seen at once.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms), QS_ALLINPUT);
}
