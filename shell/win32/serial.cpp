// The serial line on a Win32 communications device: 8N1, reads that never wait.
#include "serial.h"

#include <windows.h>

namespace {

enum : DWORD { QueueSize = 1280, PurgeChunk = 64 };

// The line record has one layout on every Windows the program runs on.
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes");

HANDLE serialPortHandle = nullptr;

bool ApplyLineSettings(uint32_t baudRate, uint8_t handShake) {
    // Built from zero: whatever state the port was left in is not inherited.
    DCB line = {};
    line.DCBlength = sizeof(DCB);
    line.BaudRate = baudRate;
    line.fBinary = 1;
    line.fOutxCtsFlow = handShake == HandshakeCts ? 1 : 0;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    return SetCommState(serialPortHandle, &line) != 0;
}

// Reads return at once with what has arrived; a write of n bytes gets n + 500 ms.
bool ApplyTimeouts() {
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 1, 500};
    return SetCommTimeouts(serialPortHandle, &timeouts) != 0;
}

int WriteOnce(const void* data, int16_t length) {
    if (serialPortHandle == nullptr || length < 0) return 0;
    DWORD wrote = 0;
    return WriteFile(serialPortHandle, data, static_cast<DWORD>(length), &wrote, nullptr) ? 1 : 0;
}

}  // namespace

uint16_t SerialReadByte(uint8_t* dest) {
    if (serialPortHandle == nullptr) return 0;
    DWORD got = 0;
    BOOL ok = ReadFile(serialPortHandle, dest, 1, &got, nullptr);
    return ok && got == 1 ? 1 : 0;
}

int16_t SerialReadBlock(uint8_t* buffer, int16_t length) {
    if (serialPortHandle == nullptr || length <= 0) return 0;
    DWORD got = 0;
    if (!ReadFile(serialPortHandle, buffer, static_cast<DWORD>(length), &got, nullptr)) return 0;
    return static_cast<int16_t>(got);
}

int SerialWriteByte(uint8_t byte) {
    return WriteOnce(&byte, 1);
}

int SerialWriteBlock(const uint8_t* buffer, int16_t length) {
    return WriteOnce(buffer, length);
}

void PurgeSerialInput() {
    uint8_t scratch[PurgeChunk];
    while (SerialReadBlock(scratch, PurgeChunk) > 0) {
    }
}

int SerialOpenDevice(const char* device, uint32_t baudRate, uint8_t handShake) {
    SerialCloseDevice();
    HANDLE port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (port == INVALID_HANDLE_VALUE) return 0;
    serialPortHandle = port;
    // The line state goes first, then the queue sizes, then the timeouts.
    return ApplyLineSettings(baudRate, handShake) && SetupComm(port, QueueSize, QueueSize) &&
                   ApplyTimeouts()
               ? 1
               : 0;
}

void SerialCloseDevice() {
    if (serialPortHandle == nullptr) return;
    CloseHandle(serialPortHandle);
    serialPortHandle = nullptr;
}
