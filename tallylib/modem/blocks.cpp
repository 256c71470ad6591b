// Block encoding and the send loop with its acknowledgement rules.
#include "blocks.h"

#include <cstring>

#include "comm.h"
#include "memory.h"
#include "pump.h"
#include "state.h"
#include "status.h"
#include "tallylib.h"
#include "wait.h"

namespace {

constexpr unsigned long WRITE_PAUSE_MS = 250;
// A line that takes nothing for this many pauses is given up.
constexpr int STALLED_WRITES = 40;

uint32_t crcTable[256];
bool crcTableReady = false;

void BuildCrcTable()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[i] = c;
    }
    crcTableReady = true;
}

long PackGroups(const unsigned char *in, long n, unsigned char *out, bool packTail)
{
    long o = 0;
    long i = 0;
    for (; i + 7 <= n; i += 7) {
        unsigned char high = 0;
        for (int k = 0; k < 7; ++k) {
            unsigned char b = in[i + k];
            if (b & 0x80) high |= static_cast<unsigned char>(0x80 >> (k + 1));
            out[o++] = b & 0x7F;
        }
        out[o++] = high;
    }
    long rest = n - i;
    if (packTail) {
        if (rest > 0) {
            unsigned char high = 0;
            for (int k = 0; k < rest; ++k) {
                unsigned char b = in[i + k];
                if (b & 0x80) high |= static_cast<unsigned char>(0x80 >> (k + 1));
                out[o++] = b & 0x7F;
            }
            out[o++] = high;
        }
    } else {
        for (long k = 0; k < rest; ++k) out[o++] = in[i + k];
        out[o++] = 0x00;
    }
    return o;
}

// Writes the whole block, going on after a pause wherever the line took
// only part of it. 0, or the result that ends the sending.
long WriteBlock(const unsigned char *block, long length)
{
    long done = 0;
    int stalled = 0;
    while (done < length) {
        long wrote = _CommWriteString(block + done, length - done);
        if (wrote < 0) return TALLY_ERR_BLOCKS;
        if (wrote >= length - done) return 0;
        _StatusMessage(STATUS_TRACE, 0, "_CommWriteString() wrote %d of %d bytes", static_cast<int>(wrote),
                       static_cast<int>(length - done));
        done += wrote;
        stalled = wrote == 0 ? stalled + 1 : 0;
        if (stalled >= STALLED_WRITES) return TALLY_ERR_BLOCKS;
        _PumpMessagesFor(WRITE_PAUSE_MS);
        if (_StateAbortWait()) return TALLY_ERR_ABORTED;
    }
    return 0;
}

// Waits for the block's ACK, re-sending on NAK: 0 acknowledged, else the result.
long AwaitAcknowledgement(const unsigned char *block, long length, int tries, long timeoutSeconds)
{
    static const char ack[2] = {static_cast<char>(BLOCK_ACK), 0};
    static const char nak[2] = {static_cast<char>(BLOCK_NAK), 0};
    int left = tries;
    while (left > 0) {
        _StatusMessage(STATUS_TRACE, 0, "waiting for ACK/NAK...");
        int r = ttrap(timeoutSeconds * 100, ack, nak, static_cast<const char *>(nullptr));
        switch (r) {
        case 0:
            _StatusMessage(STATUS_TRACE, 0, "we got ACKed!");
            return 0;
        case 1:
            _StatusMessage(STATUS_TRACE, 0, "we got NAKed!");
            if (--left > 0) {
                _StatusMessage(STATUS_TRACE, 0, "re-sending a block...");
                _CommWriteString(block, length);
            }
            break;
        case TTRAP_TIMEOUT:
            _StatusMessage(STATUS_TRACE, 0, "we timed out!");
            --left;
            break;
        case TTRAP_BAD_LIST:
            _StatusMessage(STATUS_TRACE, 0, "a ttrap error occurred!");
            return TALLY_ERR_BLOCKS;
        case TTRAP_ABORTED:
            return TALLY_ERR_ABORTED;
        default:
            break;
        }
    }
    return TALLY_ERR_BLOCKS;
}

}  // namespace

uint32_t _Crc32(const void *bytes, long length)
{
    if (!crcTableReady) BuildCrcTable();
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    uint32_t crc = 0xFFFFFFFFu;
    for (long i = 0; i < length; ++i) crc = crcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void _CrcText(uint32_t crc, char *out, bool pad)
{
    static const char digits[] = "0123456789abcdef";
    char reversed[CRC_TEXT_LENGTH];
    int n = 0;
    do {
        reversed[n++] = digits[crc & 0xF];
        crc >>= 4;
    } while (crc != 0);
    int o = 0;
    if (pad)
        while (o < CRC_TEXT_LENGTH - n) out[o++] = '0';
    while (n > 0) out[o++] = reversed[--n];
    out[o] = '\0';
}

long _Pack7(const unsigned char *in, long n, unsigned char *out) { return PackGroups(in, n, out, false); }
long _Pack7Tail(const unsigned char *in, long n, unsigned char *out) { return PackGroups(in, n, out, true); }

long _BlockPayload(long blockSize, int mode)
{
    return mode != PACK_NONE ? blockSize - blockSize / 8 - 9 : blockSize - 9;
}

void _BlockEncode(unsigned char *buffer, long *length, char *key, int mode, unsigned char *work)
{
    long n = *length;
    char crcText[CRC_TEXT_LENGTH + 1];
    _CrcText(_Crc32(buffer, n), crcText, true);
    std::memcpy(buffer + n, crcText, CRC_TEXT_LENGTH);
    n += CRC_TEXT_LENGTH;
    if (mode == PACK_7 || mode == PACK_7_TAIL) {
        n = mode == PACK_7 ? _Pack7(buffer, n, work) : _Pack7Tail(buffer, n, work);
        std::memcpy(buffer, work, static_cast<size_t>(n));
    }
    long keyLength = static_cast<long>(std::strlen(key));
    for (long i = 0; i < keyLength; ++i) key[i] = static_cast<char>(key[i] | 0x80);
    if (keyLength > 0)
        for (long i = 0; i < n; ++i) buffer[i] ^= static_cast<unsigned char>(key[i % keyLength]);
    buffer[n++] = BLOCK_END;
    buffer[n] = 0;
    *length = n;
}

long _BlockTimeout(long speed, long blockSize)
{
    if (blockSize == 0 || speed < 10) return 0;
    return blockSize / (speed / 10) + 4;
}

bool _CardOpen(CardReader *reader, const char *path)
{
    *reader = CardReader{};
    if (!path) return false;
    reader->file = std::fopen(path, "rb");
    return reader->file != nullptr;
}

long _CardRead(CardReader *reader, unsigned char *out, long count)
{
    long n = 0;
    while (n < count && !reader->ended) {
        int c = reader->pending >= 0 ? reader->pending : std::fgetc(reader->file);
        reader->pending = -1;
        if (c == EOF || c == 0x1A) {
            reader->ended = true;
            break;
        }
        if (c == '\r') {
            int next = std::fgetc(reader->file);
            if (next == '\n') c = '\n';
            else reader->pending = next;
        }
        out[n++] = static_cast<unsigned char>(c);
    }
    return n;
}

void _CardClose(CardReader *reader)
{
    if (reader->file) std::fclose(reader->file);
    reader->file = nullptr;
}

long _SendFile(const char *path, char *key, int tries, int mode, long blockSize, long timeoutSeconds)
{
    _StatusMessage(STATUS_TRACE, 0, "transmission blocksize = %d, timeout = %d", static_cast<int>(blockSize),
                   static_cast<int>(timeoutSeconds));
    CardReader card;
    if (!_CardOpen(&card, path)) return TALLY_ERR_FILE;
    size_t size = static_cast<size_t>(2 * blockSize);
    unsigned char *work = static_cast<unsigned char *>(_MemAlloc(size));
    unsigned char *block = work ? static_cast<unsigned char *>(_MemAlloc(size)) : nullptr;
    long result = TALLY_ERR_MEMORY;
    if (block) {
        const long payload = _BlockPayload(blockSize, mode);
        long last = 0;
        bool emptySent = false;
        for (;;) {
            long k = _CardRead(&card, block, payload);
            if (k >= 1) {
                last = k;
                _StatusMessage(STATUS_TRACE, 0, "we read %d bytes", static_cast<int>(k));
            } else if ((last == payload || last == 0) && !emptySent) {
                // A full last block, or no data at all, is closed by a block of nothing.
                k = 0;
                emptySent = true;
            } else {
                _StatusMessage(STATUS_PROGRESS, 225, nullptr);
                result = TALLY_OK;
                break;
            }
            _BlockEncode(block, &k, key, mode, work);
            _StatusMessage(STATUS_TRACE, 0, "after encryption, length = %d", static_cast<int>(k));
            _StatusMessage(STATUS_TRACE, 0, "sending a block...");
            result = WriteBlock(block, k);
            if (result == 0) result = AwaitAcknowledgement(block, k, tries, timeoutSeconds);
            if (result != 0) break;
        }
    }
    _CardClose(&card);
    _MemFree(block);
    _MemFree(work);
    return result;
}
