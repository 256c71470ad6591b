// The block protocol to the registration server: CRC text, 7-into-8 packing,
// the XOR with the transmission key and the LF terminator; one ACK or NAK
// byte answers each block.
#pragma once
#include <cstdint>
#include <cstdio>

constexpr unsigned char BLOCK_ACK = 0x06;
constexpr unsigned char BLOCK_NAK = 0x15;
constexpr unsigned char BLOCK_END = 0x0A;
constexpr int CRC_TEXT_LENGTH = 8;

enum PackMode { PACK_NONE = 0, PACK_7 = 1, PACK_7_TAIL = 2 };

// CRC-32 of IEEE 802.3 (zip, PNG).
uint32_t _Crc32(const void *bytes, long length);
// crc in lowercase hexadecimal into out (at least 9 bytes): padded on the left
// with "0" to 8 characters when pad is set, else without leading zeros.
void _CrcText(uint32_t crc, char *out, bool pad);

// Packs n bytes from in to out: every full group of 7 becomes its 7 bytes
// with bit 7 cleared and one byte of their former bit 7 (byte k: 0x80 >> k).
// _Pack7 copies the last 0 to 6 bytes and appends 0x00; _Pack7Tail packs them
// as a short group instead. The output length.
long _Pack7(const unsigned char *in, long n, unsigned char *out);
long _Pack7Tail(const unsigned char *in, long n, unsigned char *out);

// Data bytes per block of B bytes on the line.
long _BlockPayload(long blockSize, int mode);
// Encodes the *length data bytes in place: CRC text, packing (work holds
// 2 x B bytes), XOR with the key (bit 7 of its characters is set first), LF.
// buffer holds 2 x B bytes; *length becomes the size on the line.
void _BlockEncode(unsigned char *buffer, long *length, char *key, int mode, unsigned char *work);
// Seconds to wait for ACK or NAK; 0 (no limit) when B is 0 or speed below 10.
long _BlockTimeout(long speed, long blockSize);

// The card file read as text: CR LF as LF, the first ^Z ends it.
struct CardReader {
    std::FILE *file = nullptr;
    bool ended = false;
    int pending = -1;
};
bool _CardOpen(CardReader *reader, const char *path);
// Up to count bytes; 0 at the end.
long _CardRead(CardReader *reader, unsigned char *out, long count);
void _CardClose(CardReader *reader);

// Sends the card in blocks: 0, 101 file, 105 memory, 108 not acknowledged,
// 110 aborted.
long _SendFile(const char *path, char *key, int tries, int mode, long blockSize, long timeoutSeconds);
