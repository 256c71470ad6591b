#include "fake_line.h"

#include <deque>

#include "pump.h"
#include "serial.h"
#include "tick.h"

namespace {
struct Incoming { uint32_t at; uint8_t byte; };

uint32_t now = 100000;
uint32_t tickStep = 1;
std::deque<Incoming> incoming;
std::vector<fakeline::Bytes> writes;
fakeline::Peer peer;
bool writesFail = false;
int16_t readChunk = INT16_MAX;
unsigned reads = 0;

bool Readable() { return !incoming.empty() && incoming.front().at <= now; }

int Write(const uint8_t* data, int16_t length) {
    if (writesFail || length < 0) return 0;
    fakeline::Bytes bytes(data, data + length);
    writes.push_back(bytes);
    if (peer) peer(bytes);
    return 1;
}
}  // namespace

namespace fakeline {
void Reset(uint32_t startTick) {
    now = startTick;
    tickStep = 1;
    incoming.clear();
    writes.clear();
    peer = nullptr;
    writesFail = false;
    readChunk = INT16_MAX;
    reads = 0;
}
uint32_t Now() { return now; }
void Advance(uint32_t milliseconds) { now += milliseconds; }
void SetTick(uint32_t tick) { now = tick; }
void SetTickStep(uint32_t milliseconds) { tickStep = milliseconds; }
void Deliver(const Bytes& bytes, uint32_t delayMs) {
    // Later deliveries never overtake earlier ones: a line keeps its order.
    uint32_t at = now + delayMs;
    if (!incoming.empty() && incoming.back().at > at) at = incoming.back().at;
    for (uint8_t b : bytes) incoming.push_back({at, b});
}
size_t Pending() { return incoming.size(); }
void SetPeer(Peer p) { peer = std::move(p); }
void SetWritesFail(bool fail) { writesFail = fail; }
void SetReadChunk(int16_t bytes) { readChunk = bytes; }
const std::vector<Bytes>& Writes() { return writes; }
Bytes Written() {
    Bytes all;
    for (const Bytes& w : writes) all.insert(all.end(), w.begin(), w.end());
    return all;
}
void ClearWritten() { writes.clear(); }
unsigned Reads() { return reads; }
}  // namespace fakeline

uint32_t TickCount() {
    uint32_t tick = now;
    now += tickStep;
    return tick;
}
void SleepMs(uint32_t milliseconds) { now += milliseconds; }

uint16_t SerialReadByte(uint8_t* dest) {
    ++reads;
    if (!Readable()) return 0;
    *dest = incoming.front().byte;
    incoming.pop_front();
    return 1;
}

int16_t SerialReadBlock(uint8_t* buffer, int16_t length) {
    ++reads;
    int16_t count = 0;
    while (count < length && count < readChunk && Readable()) {
        buffer[count++] = incoming.front().byte;
        incoming.pop_front();
    }
    return count;
}

int SerialWriteByte(uint8_t byte) { return Write(&byte, 1); }
int SerialWriteBlock(const uint8_t* buffer, int16_t length) { return Write(buffer, length); }

// Sleeps on the virtual clock until the next byte is due or the time is up.
int SerialAwaitInput(uint32_t milliseconds, int16_t) {
    if (Readable()) return AwaitedInput;
    if (!incoming.empty() && incoming.front().at - now <= milliseconds) {
        now = incoming.front().at;
        return AwaitedInput;
    }
    now += milliseconds;
    return AwaitedNothing;
}

void PurgeSerialInput() {
    while (Readable()) incoming.pop_front();
}

int SerialOpenDevice(const char*, uint32_t, uint8_t) { return 1; }
void SerialCloseDevice() {}

int DispatchOneMessage() { return 0; }
int AwaitMessage(uint32_t milliseconds) {
    now += milliseconds;
    return 0;
}
void DispatchAllMessages() {}
