#include "receiver.h"

#include <cstring>

#include "codec.h"
#include "filestore.h"
#include "serial.h"
#include "wire_path.h"

namespace {

enum State {
    RequestHeader, AwaitHeader, AckEot, HeaderSilence, ReadHeader, NakHeader,
    CheckHeader, AckHeader, EndOfBatch, AwaitBlock, ReadBlock, NakBlock,
    CheckBlock, AckBlock, AckDuplicate, EndOfFile, Abort, Finished,
};

char receivePath[ReceivePathSize];

struct Batch {
    ProgressFn progress;
    TransferStatus* status;
    FsHandle file;
    int expectedTotal;     // 133 or 1029, from the type byte
    bool alreadyCounted;   // the damaged packet was counted by CheckPacket
    bool noBlockYet;       // the header was taken, no data block yet
};

enum : int { WaitAbort = -1 };

// Waits for a block start (SOH, STX), EOT or a time-out. Other bytes are
// skipped; Cancel or a second CAN in a row means abort.
int WaitForBlockStart(Batch& b) {
    for (;;) {
        int got = AwaitBlockStart(b.progress, ReplyTries);
        if (got == Cancelled) return WaitAbort;
        if (got == TimedOut || got == EOT) return got;
        if (got == CAN) {
            if (SecondCanInARow()) return WaitAbort;
            continue;
        }
        if (got == SOH || got == STX) {
            b.expectedTotal = got == SOH ? ShortPacket : LongPacket;
            return got;
        }
    }
}

State OnRequestHeader(Batch& b) {
    SetCodecSequence(0);
    b.file = kNoFile;
    b.status->errors = 0;
    b.status->fileSize = 0;
    b.status->bytesLeft = 0;
    SerialWriteByte(Ready);
    return AwaitHeader;
}

State OnAwaitHeader(Batch& b) {
    int got = WaitForBlockStart(b);
    if (got == WaitAbort) return Abort;
    if (got == EOT) return AckEot;
    if (got == TimedOut) return HeaderSilence;
    return ReadHeader;
}

State OnHeaderSilence(Batch& b) {
    if (b.progress(b.status, Counters)) return Abort;
    return CountError(ErrorLimit) ? Abort : RequestHeader;
}

// Each damaged, missing or late packet counts once, whichever check saw it.
State Nak(Batch& b, State waitAgain) {
    bool counted = b.alreadyCounted;
    b.alreadyCounted = false;
    if (!counted && CountError(ErrorLimit)) return Abort;
    if (b.progress(b.status, Counters)) return Abort;
    AwaitSilence(1);
    SerialWriteByte(NAK);
    return waitAgain;
}

State OnCheckHeader(Batch& b) {
    PacketCheck check = CheckPacket();
    if (check == Bad) {
        b.alreadyCounted = true;
        return NakHeader;
    }
    return check == Good ? AckHeader : Abort;
}

// Takes a good header: the end of the batch, or a new file to create.
State TakeHeader(Batch& b) {
    const uint8_t* data = CodecPacket()->data();
    if (data[0] == 0) return EndOfBatch;
    int sizeOffset = b.expectedTotal == ShortPacket ? 124 : 1020;
    const void* end = std::memchr(data, 0, static_cast<size_t>(sizeOffset));
    if (end == nullptr) return Abort;  // no path terminator: nothing is created
    uint32_t size = FromBigEndian32(data + sizeOffset);
    if (size > INT32_MAX) return Abort;  // no sender offers 2 GiB or more

    if (!WireToLocalPath(reinterpret_cast<const char*>(data), receivePath, sizeof receivePath) ||
        PrepareIncomingFile(receivePath)) {
        receivePath[0] = '\0';
        return Abort;
    }
    b.file = OpenIncomingFile();
    if (b.file == kNoFile) return Abort;
    b.status->fileSize = static_cast<int32_t>(size);
    b.status->bytesLeft = static_cast<int32_t>(size);
    b.progress(b.status, FileStarted);
    return AckHeader;
}

State OnAckHeader(Batch& b) {
    if (b.progress(b.status, Counters)) return Abort;
    SerialWriteByte(ACK);
    SerialWriteByte(Ready);
    SetCodecSequence(static_cast<uint8_t>(CodecSequence() + 1));
    b.status->errors = 0;
    b.noBlockYet = true;
    return AwaitBlock;
}

State OnAwaitBlock(Batch& b) {
    int got = WaitForBlockStart(b);
    if (got == WaitAbort) return Abort;
    if (got == EOT) return EndOfFile;
    if (got == TimedOut) return NakBlock;
    return ReadBlock;
}

// Writes the block's share of the announced size; padding and blocks past the
// end are dropped.
bool StoreBlock(Batch& b) {
    int32_t count = b.expectedTotal - 5;
    int32_t left = b.status->bytesLeft;
    if (left <= 0) return true;
    if (count > left) count = left;
    if (WriteIncoming(b.file, CodecPacket()->data(), count)) return false;
    b.status->bytesLeft -= count;
    CountMovedBytes(b.status, count);
    return true;
}

State OnCheckBlock(Batch& b) {
    switch (CheckPacket()) {
    case Good: return StoreBlock(b) ? AckBlock : Abort;
    case Duplicate: return AckDuplicate;
    case Bad: b.alreadyCounted = true; return NakBlock;
    case OutOfSequence: return NakBlock;
    case TooManyErrors: break;
    }
    return Abort;
}

State OnAckBlock(Batch& b) {
    if (b.progress(b.status, Counters)) return Abort;
    SerialWriteByte(ACK);
    b.noBlockYet = false;
    SetCodecSequence(static_cast<uint8_t>(CodecSequence() + 1));
    b.status->errors = 0;
    return AwaitBlock;
}

// A repeated header means the sender missed its ACK or the ready byte behind
// it, and it waits for the ready byte: without a fresh one both sides would
// repeat themselves until someone cancels.
State OnAckDuplicate(Batch& b) {
    SerialWriteByte(ACK);
    if (b.noBlockYet) SerialWriteByte(Ready);
    b.status->errors = 0;
    return AwaitBlock;
}

// The file is on the disk under its own name before its end is acknowledged:
// once the sender hears the ACK it deletes its copy.
State OnEndOfFile(Batch& b) {
    bool failed = FinishIncomingFile(b.file, receivePath);
    b.file = kNoFile;
    if (failed) return Abort;
    receivePath[0] = '\0';
    ++b.status->files;
    return AckEot;
}

State OnEndOfBatch(Batch& b) {
    SerialWriteByte(ACK);
    b.progress(b.status, BatchFinished);
    return Finished;
}

State ReadBody(Batch& b, State check, State nak) {
    return ReadPacketBody(b.expectedTotal) == Complete ? check : nak;
}

State Step(Batch& b, State state) {
    switch (state) {
    case RequestHeader: return OnRequestHeader(b);
    case AwaitHeader: return OnAwaitHeader(b);
    case AckEot: SerialWriteByte(ACK); b.status->errors = 0; return RequestHeader;
    case HeaderSilence: return OnHeaderSilence(b);
    case ReadHeader: return ReadBody(b, CheckHeader, NakHeader);
    case NakHeader: return Nak(b, AwaitHeader);
    case CheckHeader: {
        State next = OnCheckHeader(b);
        return next == AckHeader ? TakeHeader(b) : next;
    }
    case AckHeader: return OnAckHeader(b);
    case EndOfBatch: return OnEndOfBatch(b);
    case AwaitBlock: return OnAwaitBlock(b);
    case ReadBlock: return ReadBody(b, CheckBlock, NakBlock);
    case NakBlock: return Nak(b, AwaitBlock);
    case CheckBlock: return OnCheckBlock(b);
    case AckBlock: return OnAckBlock(b);
    case AckDuplicate: return OnAckDuplicate(b);
    case EndOfFile: return OnEndOfFile(b);
    case Abort: AwaitSilence(1); WriteCancel(); return Finished;
    case Finished: break;
    }
    return Finished;
}

}  // namespace

void ReceiveBatch(ProgressFn progress) {
    TransferStatus* status = CurrentTransferStatus();
    receivePath[0] = '\0';
    *status = TransferStatus{0, 0, 0, 0, 0, DirectionReceiving, receivePath};
    SetCodecStatus(status);
    PurgeSerialInput();
    SetCodecCanCount(0);
    progress(status, TransferOpening);

    Batch batch{progress, status, kNoFile, ShortPacket, false, false};
    for (State state = RequestHeader; state != Finished;) state = Step(batch, state);
    if (batch.file != kNoFile) CloseStoredFile(batch.file);
    // A file started but not completed is not kept.
    if (receivePath[0] != '\0') DiscardIncomingFile();
    receivePath[0] = '\0';
}
