// A host that sends a card through tallylib.dll to tools/tally-service on
// COM1, in one of a few ways a host may call it. It prints one line per status
// message in code mode ("id N") and "result N" per transmission, for
// transmit_session.py to judge. (The sample host send_card covers text mode.)
// Usage: tally_transmit_host CASE CARD-PATH [BLOCK-SIZE [DIAL-FLAGS [ATTEMPTS [DIAL-WAIT]]]]
//   send     code mode, level 2
//   abort    TallyCard_Abort from a timer 1 s after "Dialing the modem.", then a normal run
//   abort-send  TallyCard_Abort from the callback at "Transmitting with the TALLY protocol."
//   customers   four runs with other customer identifiers, the last with speaker mode 0
//   abort-first TallyCard_Abort before the transmission, then a normal run
//   window   no callback, level 3: the library's status window shows the messages
//   reenter  a second TallyCard_Transmit from inside the status callback
//   find     TallyCard_FindModem only: "found F port P speed S"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tally_loader.h"

namespace {

TallyLib lib;
const char *card = "";
long blockSize = 128;
long dialFlags = 0;
long dialAttempts = 3;
long dialWait = 10;
const char *customer = "ACME Corp";
bool abortOnDial = false;
bool abortOnSend = false;
bool reenter = false;
UINT_PTR abortTimer = 0;

void Line(const char *format, long value)
{
    std::printf(format, value);
    std::printf("\n");
    std::fflush(stdout);
}

long Transmit(TallyCard_StatusCallback callback, long level)
{
    return lib.Transmit(0, nullptr, callback, level, card, "5551234", customer, dialAttempts, dialWait, 1, 2400, 2,
                        blockSize, dialFlags);
}

// Runs from a WM_TIMER the library dispatches while it waits for the dial.
void CALLBACK AbortFromTimer(HWND, UINT, UINT_PTR, DWORD)
{
    KillTimer(nullptr, abortTimer);
    abortTimer = 0;
    std::printf("abort\n");
    lib.Abort();
}

void TALLY_STDCALL ById(intptr_t id)
{
    if (id != 0) Line("id %ld", static_cast<long>(id));
    if (id == 107 && abortOnDial && !abortTimer) abortTimer = SetTimer(nullptr, 0, 1000, AbortFromTimer);
    if (id == 213 && abortOnSend) {
        std::printf("abort\n");
        lib.Abort();
    }
    if (reenter) {
        reenter = false;
        Line("inner-result %ld", Transmit(ById, 2));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: tally_transmit_host CASE CARD-PATH [BLOCK-SIZE [DIAL-FLAGS [ATTEMPTS [DIAL-WAIT]]]]\n");
        return 2;
    }
    if (!TallyLoad(&lib)) {
        std::fprintf(stderr, "tallylib.dll or one of its exports is missing\n");
        return 3;
    }
    const char *mode = argv[1];
    card = argv[2];
    if (argc > 3) blockSize = std::atol(argv[3]);
    if (argc > 4) dialFlags = std::atol(argv[4]);
    if (argc > 5) dialAttempts = std::atol(argv[5]);
    if (argc > 6) dialWait = std::atol(argv[6]);

    if (!std::strcmp(mode, "find")) {
        long port = 1, speed = 2400;
        long found = lib.FindModem(&port, &speed, 0);
        std::printf("found %ld port %ld speed %ld\n", found, port, speed);
        return 0;
    }
    if (!std::strcmp(mode, "window")) {
        Line("result %ld", lib.Transmit(0, nullptr, nullptr, 3, card, "5551234", customer, dialAttempts, dialWait, 1,
                                        2400, 2, blockSize, dialFlags));
        return 0;
    }
    lib.InfoCodes(1);
    if (!std::strcmp(mode, "customers")) {
        static const char *const customers[] = {"M\xfcller GmbH", "", "AB CD", "ABCDEFGHIJKLMNOPQRST"};
        for (const char *c : customers) {
            customer = c;
            if (c == customers[3]) lib.Speaker(0);
            Line("result %ld", Transmit(ById, 2));
        }
        return 0;
    }
    abortOnSend = !std::strcmp(mode, "abort-send");
    if (!std::strcmp(mode, "abort-first")) {
        std::printf("abort\n");
        lib.Abort();
        Line("result %ld", Transmit(ById, 2));
        Line("result %ld", Transmit(ById, 2));
        return 0;
    }
    abortOnDial = !std::strcmp(mode, "abort");
    reenter = !std::strcmp(mode, "reenter");
    Line("result %ld", Transmit(ById, 2));
    if (abortOnDial) {
        abortOnDial = false;
        if (abortTimer) KillTimer(nullptr, abortTimer);
        Line("result %ld", Transmit(ById, 2));
    }
    return 0;
}
