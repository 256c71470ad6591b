// Bytes on the wire and the timed waits shared by both sides of a transfer.
#pragma once
#include <cstdint>
#include "status.h"

enum : uint8_t {
    LinkRequest = 0x50, LinkAccept = 0x70, Ready = 0x43,
    SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18,
};

enum : int { ShortPacket = 133, LongPacket = 1029, ShortData = 128, LongData = 1024 };
enum : int { ErrorLimit = 10, ReplyTries = 5 };

// Results of the waits besides a byte 0 to 255.
enum : int { Cancelled = 256, TimedOut = 257, Complete = 258 };

enum PacketCheck { Good, Duplicate, OutOfSequence, Bad, TooManyErrors };

// The packet buffer: type, number, complement, data, CRC.
struct Packet {
    uint8_t bytes[LongPacket];
    uint8_t* data() { return bytes + 3; }
};

uint16_t Crc16(const uint8_t* data, int length);
void ToBigEndian32(uint32_t value, uint8_t out[4]);
uint32_t FromBigEndian32(const uint8_t in[4]);

// Codec state for one transfer.
Packet* CodecPacket();
uint8_t CodecSequence();
void SetCodecSequence(uint8_t sequence);
uint16_t CodecCanCount();
void SetCodecCanCount(uint16_t count);
// Counts a CAN read as a control byte; true when it is the second in a row.
bool SecondCanInARow();
// The error counter is the status record's error field.
void SetCodecStatus(TransferStatus* status);
void ResetErrors();

void FramePacket(int totalLength);
int AwaitReply(ProgressFn progress, int tries);
int AwaitBlockStart(ProgressFn progress, int tries);
int ReadPacketBody(int totalLength);
PacketCheck CheckPacket();
bool CountError(int limit);
void AwaitSilence(int seconds);
void WriteCancel();
bool RequestLink();
bool AnswerLink();
