#include "sender.h"

#include <cstring>

#include "codec.h"
#include "filestore.h"
#include "serial.h"
#include "wire_path.h"

namespace {

enum State {
    AwaitReady, NextFile, OpenFile, SendHeader, AwaitHeaderAck, HeaderRetry,
    AwaitDataReady, NextBlock, ReadBlock, SendBlock, AwaitBlockAck, BlockRetry,
    FileDone, SendEot, AwaitEotAck, EotRetry, FileSent,
    PrepareEndOfBatch, SendEndBlock, AwaitEndAck, EndRetry, Abort, Finished,
};

struct Batch {
    ProgressFn progress;
    char** list;
    int index;           // current entry; -1 before the first
    FsHandle file;
    int headerLength;    // 133 or 1029
    TransferStatus* status;
    FsStamp sentStamp;   // the file as its header described it
    bool stampKnown;
};

// Result of a reply wait that the state itself has to handle.
enum : int { ReplyAbort = -1 };

// Waits for one of the bytes the state names (or a time-out); other bytes are
// skipped, and a second CAN in a row, or Cancel, means abort.
int ReadReply(ProgressFn progress, uint8_t first, uint8_t second = 0) {
    for (;;) {
        int reply = AwaitReply(progress, ReplyTries);
        if (reply == Cancelled) return ReplyAbort;
        if (reply == TimedOut) return TimedOut;
        if (reply == CAN) {
            if (SecondCanInARow()) return ReplyAbort;
            continue;
        }
        if (reply == first || (second != 0 && reply == second)) return reply;
    }
}

void ClearData() { std::memset(CodecPacket()->data(), 0, LongData + 2); }

void WritePacket(int length) {
    SerialWriteBlock(CodecPacket()->bytes, static_cast<int16_t>(length));
}

int PacketLength() { return CodecPacket()->bytes[0] == SOH ? ShortPacket : LongPacket; }

State Retry(State again) { return CountError(ErrorLimit) ? Abort : again; }

State OnAwaitReady(Batch& b) {
    b.file = kNoFile;
    b.status->errors = 0;
    b.status->fileSize = 0;
    b.status->bytesLeft = 0;
    int reply = ReadReply(b.progress, Ready);
    return reply == Ready ? NextFile : Abort;
}

State OnNextFile(Batch& b) {
    ++b.index;
    return b.list[b.index] == nullptr ? PrepareEndOfBatch : OpenFile;
}

void BuildHeader(Batch& b, const char* path, int32_t size) {
    b.status->fileSize = size;
    b.status->bytesLeft = size;
    b.progress(b.status, FileStarted);
    ClearData();
    uint8_t* data = CodecPacket()->data();
    char wire[MaxListedPath + 1];
    const char* name = LocalToWirePath(path, wire, sizeof wire) && wire[0] != '\0' ? wire : path;
    size_t length = std::strlen(name);
    if (length > MaxListedPath) length = MaxListedPath;  // the scan never offers more
    std::memcpy(data, name, length);
    bool shortHeader = length <= 123;
    ToBigEndian32(static_cast<uint32_t>(size), data + (shortHeader ? 124 : 1020));
    b.headerLength = shortHeader ? ShortPacket : LongPacket;
    FramePacket(b.headerLength);
}

State OnOpenFile(Batch& b) {
    const char* path = b.list[b.index];
    SetCodecSequence(0);
    b.status->currentName = path;
    b.file = OpenStoredFile(path, BaseOutgoing);
    if (b.file == kNoFile) return NextFile;
    int32_t size = StoredFileSize(b.file);
    if (size < 0) {
        CloseStoredFile(b.file);
        b.file = kNoFile;
        return NextFile;
    }
    b.stampKnown = StoredFileStamp(path, BaseOutgoing, &b.sentStamp);
    BuildHeader(b, path, size);
    return SendHeader;
}

// A reply wait whose ACK moves on and whose NAK or silence means a retry.
State AwaitAck(Batch& b, State onAck, State onRetry) {
    int reply = ReadReply(b.progress, ACK, NAK);
    if (reply == ReplyAbort) return Abort;
    return reply == ACK ? onAck : onRetry;
}

State OnAwaitDataReady(Batch& b) {
    b.status->errors = 0;
    int reply = ReadReply(b.progress, Ready);
    if (reply == ReplyAbort) return Abort;
    if (reply == TimedOut) return HeaderRetry;
    b.status->errors = 0;
    return NextBlock;
}

State OnNextBlock(Batch& b) {
    SetCodecSequence(static_cast<uint8_t>(CodecSequence() + 1));
    ClearData();
    return b.status->bytesLeft == 0 ? FileDone : ReadBlock;
}

State OnReadBlock(Batch& b) {
    int32_t left = b.status->bytesLeft;
    bool longBlock = left >= LongData;
    int count = longBlock ? LongData : (left < ShortData ? left : ShortData);
    if (ReadOutgoing(b.file, CodecPacket()->data(), count)) return Abort;
    b.status->bytesLeft -= count;
    CountMovedBytes(b.status, count);
    FramePacket(longBlock ? LongPacket : ShortPacket);
    return SendBlock;
}

State OnAwaitBlockAck(Batch& b) {
    int reply = ReadReply(b.progress, ACK, NAK);
    if (reply == ReplyAbort) return Abort;
    if (reply != ACK) return BlockRetry;
    b.status->errors = 0;
    return NextBlock;
}

State OnFileDone(Batch& b) {
    CloseStoredFile(b.file);
    b.file = kNoFile;
    return SendEot;
}

// True when the file is still the one whose header went out: a writer that
// changed it meanwhile has given the peer a copy of a moment, not the file.
// Without a stamp there is nothing to compare, and a file kept for that
// reason would be sent again and again.
bool UnchangedSinceHeader(const Batch& b, const char* path) {
    FsStamp now;
    if (!b.stampKnown || !StoredFileStamp(path, BaseOutgoing, &now)) return true;
    return now.size == b.sentStamp.size && now.modifiedMs == b.sentStamp.modifiedMs &&
           now.identity == b.sentStamp.identity;
}

// The file is deleted only once the peer has confirmed its end: a lost EOT
// exchange must leave it here to be sent again rather than on neither side.
// A file that changed while it was sent stays too, for a later batch; it is
// marked done all the same, so that it is not put away as unsent.
State OnFileSent(Batch& b) {
    char* path = b.list[b.index];
    if (UnchangedSinceHeader(b, path)) DeleteStoredFile(path, BaseOutgoing);
    path[0] = '\0';
    ++b.status->files;
    return AwaitReady;
}

State OnPrepareEndOfBatch(Batch& b) {
    SetCodecSequence(0);
    b.status->errors = 0;
    ClearData();
    FramePacket(ShortPacket);
    return SendEndBlock;
}

State OnAwaitEndAck(Batch& b) {
    int reply = ReadReply(b.progress, ACK, NAK);
    if (reply == ReplyAbort) return Abort;
    if (reply != ACK) return EndRetry;
    b.progress(b.status, BatchFinished);
    return Finished;
}

State OnAbort() {
    AwaitSilence(1);
    WriteCancel();
    return Finished;
}

State Step(Batch& b, State state) {
    switch (state) {
    case AwaitReady: return OnAwaitReady(b);
    case NextFile: return OnNextFile(b);
    case OpenFile: return OnOpenFile(b);
    case SendHeader: WritePacket(b.headerLength); return AwaitHeaderAck;
    case AwaitHeaderAck: return AwaitAck(b, AwaitDataReady, HeaderRetry);
    case HeaderRetry: return Retry(SendHeader);
    case AwaitDataReady: return OnAwaitDataReady(b);
    case NextBlock: return OnNextBlock(b);
    case ReadBlock: return OnReadBlock(b);
    case SendBlock: WritePacket(PacketLength()); return AwaitBlockAck;
    case AwaitBlockAck: return OnAwaitBlockAck(b);
    case BlockRetry: return Retry(SendBlock);
    case FileDone: return OnFileDone(b);
    case SendEot: SerialWriteByte(EOT); return AwaitEotAck;
    case AwaitEotAck: return AwaitAck(b, FileSent, EotRetry);
    case EotRetry: return Retry(SendEot);
    case FileSent: return OnFileSent(b);
    case PrepareEndOfBatch: return OnPrepareEndOfBatch(b);
    case SendEndBlock: WritePacket(ShortPacket); return AwaitEndAck;
    case AwaitEndAck: return OnAwaitEndAck(b);
    case EndRetry: return Retry(SendEndBlock);
    case Abort: return OnAbort();
    case Finished: break;
    }
    return Finished;
}

}  // namespace

void SendBatch(ProgressFn progress, char** fileList) {
    TransferStatus* status = CurrentTransferStatus();
    *status = TransferStatus{0, 0, 0, 0, 0, DirectionSending, ""};
    SetCodecStatus(status);
    SetCodecCanCount(0);
    progress(status, TransferOpening);

    Batch batch{progress, fileList, -1, kNoFile, ShortPacket, status, FsStamp{}, false};
    for (State state = AwaitReady; state != Finished;) state = Step(batch, state);
    if (batch.file != kNoFile) CloseStoredFile(batch.file);
}
