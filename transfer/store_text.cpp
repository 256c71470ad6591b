// Text files: which names count as text, and CR LF line ends on the way in.
#include <cstring>

#include "filestore.h"
#include "settings.h"
#include "store_paths.h"

namespace {
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;
// Suffixes longer than this are never text: the list holds short entries.
constexpr size_t MaxTextSuffix = 30;
constexpr int ChunkSize = 1024;

bool incomingIsText = false;
// The previous block ended with CR and its LF has already been written.
bool lineEndCarry = false;

// Every CR LF, lone CR and lone LF becomes CR LF (or LF alone with toLf); at
// most 2 * count bytes out.
int TranslateLineEnds(const uint8_t* in, int count, uint8_t* out, bool toLf) {
    int i = 0;
    int o = 0;
    if (count > 0 && in[0] == LF && lineEndCarry) i = 1;
    bool previousCr = false;
    for (; i < count; ++i) {
        uint8_t b = in[i];
        if (toLf) {
            if (b == CR) out[o++] = LF;
            else if (!(previousCr && b == LF)) out[o++] = b;
            previousCr = b == CR;
            continue;
        }
        if (previousCr && b != LF) out[o++] = LF;
        if (!previousCr && b == LF) out[o++] = CR;
        out[o++] = b;
        previousCr = b == CR;
    }
    if (previousCr && !toLf) out[o++] = LF;
    lineEndCarry = previousCr;
    return o;
}
}  // namespace

void SetIncomingText(bool isText) { incomingIsText = isText; }
void ClearLineEndCarry() { lineEndCarry = false; }

bool IsTextFile(const char* name) {
    const char* dot = name != nullptr ? strchr(name, '.') : nullptr;
    if (dot == nullptr) return false;
    size_t n = strlen(dot);
    if (n > MaxTextSuffix) return false;
    char pattern[MaxTextSuffix + 2];
    for (size_t i = 0; i < n; ++i) {
        char c = dot[i];
        pattern[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    pattern[n] = ' ';
    pattern[n + 1] = '\0';
    const char* list = TextExtensions();
    if (strstr(list, pattern) != nullptr) return true;
    size_t listLength = strlen(list);
    return listLength >= n && memcmp(list + listLength - n, pattern, n) == 0;
}

bool WriteIncoming(FsHandle file, const uint8_t* data, int count) {
    if (file == kNoFile || count < 0) return true;
    if (!incomingIsText || TranslateText() == 0) return FsWrite(file, data, count) != count;
    // Blocks longer than a packet go in packet-sized pieces; the carry flag
    // makes the result the same as one pass.
    uint8_t out[2 * ChunkSize];
    for (int done = 0; done < count; done += ChunkSize) {
        int piece = count - done < ChunkSize ? count - done : ChunkSize;
        int n = TranslateLineEnds(data + done, piece, out, TranslateText() == TranslateLf);
        if (FsWrite(file, out, n) != n) return true;
    }
    return false;
}
