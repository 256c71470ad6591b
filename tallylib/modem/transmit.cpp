// Card transmission by modem. Until the modem layer exists no modem can be
// found: both exports answer as they do when no modem responds.
#include "state.h"
#include "tallylib.h"

extern "C" long TALLY_CDECL TallyCard_Transmit(long, void *, TallyCard_StatusCallback, long, const char *,
                                                const char *, const char *, long, long, long, long, long, long,
                                                long)
{
    if (_StateBusy()) return TALLY_ERR_BUSY;
    return TALLY_ERR_NO_MODEM;
}

extern "C" long TALLY_CDECL TallyCard_FindModem(long *, long *, long) { return 0; }
