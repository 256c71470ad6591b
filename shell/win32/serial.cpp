// The serial line on a Win32 communications device: 8N1, reads that never wait.
#include "serial.h"

#include <windows.h>

#include <cstring>

namespace {

// A wait looks at the message queue at least this often. Once a packet has
// begun, the wait sleeps through its line time but for the last NapMarginMs
// (a timed sleep may overshoot by a millisecond), and reads the rest as it
// lands for up to RestMarginMs longer than its line time.
enum : DWORD {
    QueueSize = 1280,
    PurgeChunk = 64,
    WaitSliceMs = 15,
    NapMarginMs = 2,
    RestMarginMs = 5
};

// The line record has one layout on every Windows the program runs on.
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes");

HANDLE serialPortHandle = nullptr;
DWORD lineRate = 0;  // bit/s of the open line, for the time bytes take on it
// A wait ends by reading what came; the next reads hand it out first.
uint8_t held[QueueSize];
DWORD heldStart = 0;
DWORD heldCount = 0;

void DropHeld() { heldStart = heldCount = 0; }

DWORD BytesWaiting() {
    DWORD errors = 0;
    COMSTAT state = {};
    return ClearCommError(serialPortHandle, &errors, &state) ? state.cbInQue : 0;
}

DWORD TakeHeld(uint8_t* dest, DWORD length) {
    const DWORD n = heldCount < length ? heldCount : length;
    memcpy(dest, held + heldStart, n);
    heldStart += n;
    heldCount -= n;
    if (heldCount == 0) heldStart = 0;
    return n;
}

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

// For a wait: a read returns at once with what is there, or with the first byte
// that comes within the slice.
bool ApplyWaitTimeouts(DWORD slice) {
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, slice, 1, 500};
    return SetCommTimeouts(serialPortHandle, &timeouts) != 0;
}

// For the rest of a packet: a read returns once it has all it asked for, or
// when the slice is over.
bool ApplyRestTimeouts(DWORD slice) {
    COMMTIMEOUTS timeouts = {0, 0, slice, 1, 500};
    return SetCommTimeouts(serialPortHandle, &timeouts) != 0;
}

bool MessageWaiting() {
    MSG message;
    return PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) != 0;
}

// Sleeps up to milliseconds, waking for a message that comes meanwhile.
int NapServingMessages(DWORD milliseconds) {
    if (MessageWaiting()) return AwaitedMessage;
    if (milliseconds == 0) return AwaitedNothing;
    DWORD woke = MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
    return woke == WAIT_OBJECT_0 ? AwaitedMessage : AwaitedNothing;
}

// Whole milliseconds that count bytes take on the line, 10 bits each, rounded down.
DWORD LineTimeMs(long count) {
    if (lineRate == 0 || count <= 0) return 0;
    return static_cast<DWORD>(static_cast<unsigned long long>(count) * 10000u / lineRate);
}

// Reads the first byte that comes into the look-ahead. The read serves no
// messages, so it runs in short slices with a look at the queue between them;
// the wait's read time-outs are set once for all of its slices.
int AwaitFirstByte(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    DWORD applied = 0;
    int result = AwaitedNothing;
    for (;;) {
        if (MessageWaiting()) {
            result = AwaitedMessage;
            break;
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds) break;
        const DWORD left = milliseconds - spent;
        const DWORD slice = left < DWORD(WaitSliceMs) ? left : DWORD(WaitSliceMs);
        DWORD got = 0;
        if (slice != applied) {
            if (!ApplyWaitTimeouts(slice)) {
                result = NapServingMessages(left);
                break;
            }
            applied = slice;
        }
        if (!ReadFile(serialPortHandle, held, 1, &got, nullptr)) {
            result = NapServingMessages(left);  // a failing port must not make the caller spin
            break;
        }
        if (got == 1) {
            heldCount = 1;
            result = AwaitedInput;
            break;
        }
    }
    if (applied != 0) ApplyTimeouts();
    return result;
}

// Reads on until wanted bytes are held, for at most about the time the rest
// take on the line, in slices with a look at the queue between them. The read
// ends as the last byte lands; it wakes for each few bytes that come, so it is
// kept for the end of a packet.
void AwaitRest(DWORD wanted, DWORD budget) {
    if (wanted > QueueSize) wanted = QueueSize;
    if (heldCount >= wanted) return;
    const DWORD start = GetTickCount();
    DWORD limit = LineTimeMs(static_cast<long>(wanted - heldCount)) + RestMarginMs;
    if (limit > budget) limit = budget;
    DWORD applied = 0;
    while (heldCount < wanted && !MessageWaiting()) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= limit) break;
        const DWORD left = limit - spent;
        const DWORD slice = left < DWORD(WaitSliceMs) ? left : DWORD(WaitSliceMs);
        if (slice != applied) {
            if (!ApplyRestTimeouts(slice)) break;
            applied = slice;
        }
        DWORD got = 0;
        if (!ReadFile(serialPortHandle, held + heldCount, wanted - heldCount, &got, nullptr)) break;
        heldCount += got;
    }
    if (applied != 0) ApplyTimeouts();
}

int WriteOnce(const void* data, int16_t length) {
    if (serialPortHandle == nullptr || length < 0) return 0;
    DWORD wrote = 0;
    return WriteFile(serialPortHandle, data, static_cast<DWORD>(length), &wrote, nullptr) ? 1 : 0;
}

}  // namespace

uint16_t SerialReadByte(uint8_t* dest) {
    if (serialPortHandle == nullptr) return 0;
    if (TakeHeld(dest, 1) == 1) return 1;
    DWORD got = 0;
    BOOL ok = ReadFile(serialPortHandle, dest, 1, &got, nullptr);
    return ok && got == 1 ? 1 : 0;
}

int16_t SerialReadBlock(uint8_t* buffer, int16_t length) {
    if (serialPortHandle == nullptr || length <= 0) return 0;
    const DWORD taken = TakeHeld(buffer, static_cast<DWORD>(length));
    if (taken == static_cast<DWORD>(length)) return length;
    DWORD got = 0;
    if (!ReadFile(serialPortHandle, buffer + taken, static_cast<DWORD>(length) - taken, &got, nullptr))
        return static_cast<int16_t>(taken);
    return static_cast<int16_t>(taken + got);
}

int SerialWriteByte(uint8_t byte) {
    return WriteOnce(&byte, 1);
}

int SerialWriteBlock(const uint8_t* buffer, int16_t length) {
    return WriteOnce(buffer, length);
}

int SerialAwaitInput(uint32_t milliseconds, int16_t wanted) {
    if (heldCount > 0) return AwaitedInput;
    if (serialPortHandle == nullptr) return NapServingMessages(milliseconds);
    const DWORD start = GetTickCount();
    const int result = AwaitFirstByte(milliseconds);
    if (result != AwaitedInput) return result;
    if (wanted <= 1) return AwaitedInput;
    // Most of a packet may still be on its way: sleep through nearly all of it.
    DWORD spent = GetTickCount() - start;
    if (spent >= milliseconds) return AwaitedInput;
    DWORD nap = LineTimeMs(static_cast<long>(wanted) - 1 - static_cast<long>(BytesWaiting()));
    nap = nap > NapMarginMs ? nap - NapMarginMs : 0;
    if (nap > milliseconds - spent) nap = milliseconds - spent;
    if (nap > 0) NapServingMessages(nap);
    spent = GetTickCount() - start;
    if (spent < milliseconds) AwaitRest(static_cast<DWORD>(wanted), milliseconds - spent);
    return AwaitedInput;
}

void PurgeSerialInput() {
    DropHeld();
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
    lineRate = baudRate;
    DropHeld();
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
    lineRate = 0;
    DropHeld();
}
