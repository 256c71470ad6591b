#include "codec.h"

#include <cstring>

#include "countdown.h"
#include "driver.h"
#include "pump.h"
#include "serial.h"

namespace {
Packet packet;
uint8_t sequence = 0;
uint16_t canCount = 0;
TransferStatus* status = CurrentTransferStatus();

const int32_t kSecond = 1000;

// What is left of a countdown, armed (positive) or running (negative).
uint32_t LeftOf(int32_t countdown) {
    int64_t left = countdown > 0 ? countdown : -static_cast<int64_t>(countdown);
    return static_cast<uint32_t>(left);
}

// Sleeps until the line has input or the countdown's time is up. Window
// messages that come meanwhile are served at once; true if there were any.
bool AwaitLine(int32_t countdown, int wanted) {
    if (SerialAwaitInput(LeftOf(countdown), static_cast<int16_t>(wanted)) != AwaitedMessage)
        return false;
    DispatchAllMessages();
    return true;
}

int AwaitControlByte(ProgressFn progress, int tries, bool storeAsType) {
    if (progress(status, Counters)) return Cancelled;
    int32_t countdown = kSecond;
    for (;;) {
        uint8_t byte;
        if (SerialReadByte(&byte)) {
            if (byte != CAN) canCount = 0;
            if (storeAsType) packet.bytes[0] = byte;
            return byte;
        }
        if (TimeoutExpired(&countdown)) {
            if (progress(status, Counters)) return Cancelled;
            if (--tries <= 0) return TimedOut;
            countdown = kSecond;
            continue;
        }
        // Cancel pressed in a message just served acts now, not at the next second.
        if (AwaitLine(countdown, 1) && CancelRequested() && progress(status, Counters))
            return Cancelled;
    }
}
}  // namespace

uint16_t Crc16(const uint8_t* data, int length) {
    uint16_t crc = 0;
    for (int i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

void ToBigEndian32(uint32_t value, uint8_t out[4]) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

uint32_t FromBigEndian32(const uint8_t in[4]) {
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

Packet* CodecPacket() { return &packet; }
uint8_t CodecSequence() { return sequence; }
void SetCodecSequence(uint8_t value) { sequence = value; }
uint16_t CodecCanCount() { return canCount; }
void SetCodecCanCount(uint16_t count) { canCount = count; }
bool SecondCanInARow() {
    if (canCount < UINT16_MAX) ++canCount;
    return canCount >= 2;
}
void SetCodecStatus(TransferStatus* record) { status = record; }
void ResetErrors() { status->errors = 0; }

void FramePacket(int totalLength) {
    int dataLength = totalLength == LongPacket ? LongData : ShortData;
    packet.bytes[0] = dataLength == LongData ? STX : SOH;
    packet.bytes[1] = sequence;
    packet.bytes[2] = static_cast<uint8_t>(sequence ^ 0xFF);
    uint16_t crc = Crc16(packet.data(), dataLength);
    packet.data()[dataLength] = static_cast<uint8_t>(crc >> 8);
    packet.data()[dataLength + 1] = static_cast<uint8_t>(crc);
}

int AwaitReply(ProgressFn progress, int tries) {
    return AwaitControlByte(progress, tries, false);
}

int AwaitBlockStart(ProgressFn progress, int tries) {
    return AwaitControlByte(progress, tries, true);
}

int ReadPacketBody(int totalLength) {
    if (totalLength != ShortPacket && totalLength != LongPacket) return TimedOut;
    int remaining = totalLength - 1;
    uint8_t* position = packet.bytes + 1;
    int32_t countdown = kSecond;
    for (;;) {
        if (TimeoutExpired(&countdown)) return TimedOut;
        int16_t got = SerialReadBlock(position, static_cast<int16_t>(remaining));
        if (got > 0 && got <= remaining) {
            position += got;
            remaining -= got;
            countdown = kSecond;
            if (remaining == 0) return Complete;
        } else {
            AwaitLine(countdown, remaining);
        }
    }
}

PacketCheck CheckPacket() {
    int dataLength = packet.bytes[0] == STX ? LongData : ShortData;
    const uint8_t* data = packet.data();
    uint16_t received = static_cast<uint16_t>((data[dataLength] << 8) | data[dataLength + 1]);
    bool numberIntact = packet.bytes[1] == static_cast<uint8_t>(packet.bytes[2] ^ 0xFF);
    if (Crc16(data, dataLength) != received || !numberIntact)
        return CountError(ErrorLimit) ? TooManyErrors : Bad;
    if (packet.bytes[1] == sequence) return Good;
    if (packet.bytes[1] == static_cast<uint8_t>(sequence - 1))
        return CountError(ErrorLimit) ? TooManyErrors : Duplicate;
    return OutOfSequence;
}

bool CountError(int limit) {
    if (status->errors < INT16_MAX) ++status->errors;
    return status->errors > limit;
}

void AwaitSilence(int seconds) {
    int32_t countdown = seconds * kSecond;
    for (;;) {
        if (TimeoutExpired(&countdown)) return;
        uint8_t discarded;
        if (SerialReadByte(&discarded)) countdown = seconds * kSecond;
        else AwaitLine(countdown, 1);
    }
}

void WriteCancel() {
    for (int i = 0; i < 3; ++i) SerialWriteByte(CAN);
}

bool RequestLink() {
    PurgeSerialInput();
    SerialWriteByte(LinkRequest);
    int32_t countdown = kSecond;
    for (;;) {
        uint8_t byte;
        if (SerialReadByte(&byte) && byte == LinkAccept) return true;
        // A timer tick served here must not start a second transfer.
        SetTransferBusy(true);
        DispatchOneMessage();
        SetTransferBusy(false);
        if (TimeoutExpired(&countdown)) break;
        // A message that wakes this wait is taken by the dispatch above.
        SerialAwaitInput(LeftOf(countdown), 1);
    }
    WriteCancel();
    return false;
}

bool AnswerLink() {
    uint8_t byte;
    while (SerialReadByte(&byte)) {
        if (byte == LinkRequest) {
            SerialWriteByte(LinkAccept);
            return true;
        }
    }
    return false;
}
