#include "device_entry.h"

#include <cstring>

namespace {

// Like strtok on *cursor, without hidden state.
char *NextPiece(char **cursor, const char *separators)
{
    char *p = *cursor + std::strspn(*cursor, separators);
    if (*p == '\0') {
        *cursor = p;
        return nullptr;
    }
    char *end = p + std::strcspn(p, separators);
    *cursor = *end ? end + 1 : end;
    *end = '\0';
    return p;
}

}  // namespace

int _DeviceEntrySplit(char *entry, DeviceEntry *pieces)
{
    pieces->device = pieces->driver = pieces->port = nullptr;
    if (!entry) return 0;
    char *cursor = entry;
    pieces->device = NextPiece(&cursor, ",");
    if (pieces->device) pieces->driver = NextPiece(&cursor, ", ");
    if (pieces->driver) pieces->port = NextPiece(&cursor, ", ");
    return pieces->port != nullptr;
}

int _DeviceEntryPrinterName(const char *entry, char *out, long size)
{
    if (size <= 0 || !out) return -1;
    out[0] = '\0';
    if (!entry) return -1;
    std::size_t start = std::strspn(entry, ",");
    if (entry[start] == '\0') return -1;
    std::size_t cut = start + std::strcspn(entry + start, ",");
    std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t n = cut < room ? cut : room;
    std::memcpy(out, entry, n);
    out[n] = '\0';
    return 0;
}
