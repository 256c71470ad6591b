// The status channel of a transmission: the library's status window or the
// host's callback, fed with message texts or bare message ids.
#pragma once

#include "tallylib.h"

// Opens the channel: level 0 to 4; with a callback no window is created.
void _StatusOpen(void *parentWindow, long level, TallyCard_StatusCallback callback);
// Levels 1 to 3 take a message id and no format; level 4 takes id 0, a
// printf-style format (%d, %ld, %s) and its values. 0 delivered, 1 suppressed.
int _StatusMessage(long level, long id, const char *format, ...);
// Non-zero when the host receives message ids instead of texts.
int _StatusCodeMode();
// Closes the channel; code mode carries over to the next transmission.
void _StatusClose();
