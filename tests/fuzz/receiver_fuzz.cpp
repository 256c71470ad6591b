// Fuzz target: the receiving side fed arbitrary line input. The input is a
// byte of options, then chunks of line bytes; each write of the receiver (a
// ready byte, ACK, NAK, CAN) makes the next chunk arrive, so an input can
// play a whole conversation. The file system is the recorded in-memory one,
// which stops the process if anything outside the incoming folder is touched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec.h"
#include "fake_frontend.h"
#include "fake_fs.h"
#include "fake_line.h"
#include "receiver.h"
#include "settings.h"

namespace {
std::vector<fakeline::Bytes> chunks;
size_t nextChunk = 0;
int progressCalls = 0;

// A chunk is a length byte (or two, when the first has its top bit set)
// and that many bytes.
void Split(const uint8_t* data, size_t size) {
    chunks.clear();
    nextChunk = 0;
    size_t at = 0;
    while (at < size) {
        size_t length = data[at++];
        if ((length & 0x80) != 0 && at < size) length = ((length & 0x7F) << 8) | data[at++];
        if (length > size - at) length = size - at;
        chunks.emplace_back(data + at, data + at + length);
        at += length;
    }
}

void OnWrite(const fakeline::Bytes&) {
    if (nextChunk < chunks.size()) fakeline::Deliver(chunks[nextChunk++]);
}

// Cancel once the input has been played and read: the receiver would
// otherwise keep asking for a header for ever, as it should.
uint16_t Progress(TransferStatus* status, int16_t event) {
    fakefront::RecordProgress(status, event);
    if (++progressCalls > 2000) return 1;
    return nextChunk >= chunks.size() && fakeline::Pending() == 0 ? 1 : 0;
}

void Check(bool condition, const char* what) {
    if (condition) return;
    fprintf(stderr, "receiver fuzz: %s\n", what);
    abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint8_t options = data[0];
    fakeline::Reset();
    fakefront::Reset();
    fakefs::Reset();
    fakefs::MakeFolder("/box/in");
    fakefs::MakeFolder("/box/out");
    fakefs::SetConfinedTo("/box/in");
    if (options & 0x04) fakefs::SetFileLimit(300);  // a nearly full disk
    SetInDirectory("/box/in");
    SetOutDirectory("/box/out");
    SetTranslateText(options & 0x01);
    SetTextExtensions(options & 0x02 ? ".txt .bin" : ".txt");
    if (options & 0x08) fakeline::SetReadChunk(static_cast<int16_t>(1 + (options >> 4)));
    Split(data + 1, size - 1);
    progressCalls = 0;
    fakeline::SetPeer(OnWrite);

    ReceiveBatch(Progress);

    // Whatever happened, no partial file is left and nothing escaped.
    for (const std::string& path : fakefs::Tree()) {
        Check(path == "/box/" || path == "/box/out/" || path.rfind("/box/in/", 0) == 0,
              "something outside the incoming folder");
        Check(path.find("/!partial.") == std::string::npos, "a partial file was left behind");
    }
    return 0;
}
