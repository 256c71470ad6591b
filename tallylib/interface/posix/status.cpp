// The status channel without a window system: a host callback only. Trace
// lines are formatted; other messages carry their id as text ("#225"), as no
// string table is at hand here.
#include "status.h"

#include <cstdarg>
#include <cstdio>

#include "state.h"
#include "substitution.h"

namespace {

constexpr int STATUS_BUFFER_SIZE = 162;

long statusLevel = 0;
TallyCard_StatusCallback statusCallback = nullptr;
long infoCodes = 0;
char statusBuffer[STATUS_BUFFER_SIZE];

}  // namespace

void _StatusOpen(void *, long level, TallyCard_StatusCallback callback)
{
    statusLevel = level;
    statusCallback = callback;
    statusBuffer[0] = '\0';
}

int _StatusMessage(long level, long id, const char *format, ...)
{
    if (level > statusLevel || !statusCallback) return 1;
    if (infoCodes) {
        statusCallback(static_cast<intptr_t>(id));
        return 0;
    }
    if (level == STATUS_TRACE) {
        if (!format) return 1;
        va_list args;
        va_start(args, format);
        std::vsnprintf(statusBuffer, STATUS_BUFFER_SIZE, format, args);
        va_end(args);
    } else {
        if (id <= 0) return 1;
        std::snprintf(statusBuffer, STATUS_BUFFER_SIZE, "#%ld", id);
    }
    statusCallback(reinterpret_cast<intptr_t>(statusBuffer));
    return 0;
}

int _StatusCodeMode() { return infoCodes != 0; }

void _StatusClose()
{
    statusLevel = 0;
    statusCallback = nullptr;
}

extern "C" long TALLY_CDECL TallyCard_InfoCodes(long codeMode)
{
    if (!_StateBusy()) infoCodes = codeMode;
    return codeMode;
}
