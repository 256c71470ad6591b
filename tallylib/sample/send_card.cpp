// send_card: a small host program that sends a registration card with
// tallylib.dll. It binds the library at run time, as most hosts do, finds the
// modem, and transmits the card with a status callback that prints every
// message.
//
// Usage: send_card CARD-FILE PHONE [CUSTOMER-ID] [options]
//   --port N      COM port where the modem search starts (1 to 4, default 1)
//   --speed N     line speed (1200, 2400, 4800, 9600, 19200, 38400; default 2400)
//   --block N     block size (128 to 2048, default 1024)
//   --level N     messages to print: 1 main steps ... 4 trace (default 3)
//   --attempts N  dial attempts (default 3)
//   --wait N      seconds to wait for the modem to connect (default 60)
//   --pulse       pulse dialling; --blind: dial without waiting for a dial tone
// Exit code: the transmission's result (0 sent), 2 for a usage error, 3 when
// the library cannot be loaded.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tallylib.h"

namespace {

// The exports this program uses, with the library's calling conventions.
typedef long(TALLY_CDECL *FindModemFn)(long *port, long *speed, long unused);
typedef long(TALLY_CDECL *TransmitFn)(long unused, void *parentWindow, TallyCard_StatusCallback callback,
                                      long level, const char *cardPath, const char *phone,
                                      const char *customerId, long dialAttempts, long dialWaitSeconds,
                                      long firstPort, long speed, long protocol, long blockSize, long dialFlags);

struct Options {
    const char *card = nullptr;
    const char *phone = nullptr;
    const char *customer = "";
    long port = 1;
    long speed = 2400;
    long block = 1024;
    long level = STATUS_DETAIL;
    long attempts = 3;
    long wait = 60;
    long flags = 0;
};

// In text mode the argument points to the message, valid during this call only.
void TALLY_STDCALL PrintStatus(intptr_t text)
{
    std::printf("  %s\n", reinterpret_cast<const char *>(text));
    std::fflush(stdout);
}

const char *ResultText(long result)
{
    switch (result) {
    case TALLY_OK: return "the card was sent";
    case TALLY_ERR_FILE: return "the card file cannot be read";
    case TALLY_ERR_BUSY: return "a transmission is already running";
    case TALLY_ERR_NO_MODEM: return "no modem answered";
    case TALLY_ERR_MEMORY: return "out of memory";
    case TALLY_ERR_DIAL: return "dialling failed";
    case TALLY_ERR_LOGIN: return "the service did not accept the login";
    case TALLY_ERR_BLOCKS: return "the service did not accept a block";
    case TALLY_ERR_HANGUP: return "the card was sent, but the phone could not be hung up";
    case TALLY_ERR_ABORTED: return "aborted";
    default: return "unexpected result";
    }
}

bool ParseOptions(int argc, char **argv, Options *o)
{
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(a, "--pulse")) o->flags |= 4;
        else if (!std::strcmp(a, "--blind")) o->flags |= 8;
        else if (!std::strcmp(a, "--port") && hasValue) o->port = std::atol(argv[++i]);
        else if (!std::strcmp(a, "--speed") && hasValue) o->speed = std::atol(argv[++i]);
        else if (!std::strcmp(a, "--block") && hasValue) o->block = std::atol(argv[++i]);
        else if (!std::strcmp(a, "--level") && hasValue) o->level = std::atol(argv[++i]);
        else if (!std::strcmp(a, "--attempts") && hasValue) o->attempts = std::atol(argv[++i]);
        else if (!std::strcmp(a, "--wait") && hasValue) o->wait = std::atol(argv[++i]);
        else if (a[0] == '-' && a[1] == '-') return false;
        else if (positional == 0) o->card = a, ++positional;
        else if (positional == 1) o->phone = a, ++positional;
        else if (positional == 2) o->customer = a, ++positional;
        else return false;
    }
    return o->card && o->phone;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        std::fprintf(stderr, "usage: send_card CARD-FILE PHONE [CUSTOMER-ID] [--port N] [--speed N] "
                             "[--block N] [--level N] [--attempts N] [--wait N] [--pulse] [--blind]\n");
        return 2;
    }

    HMODULE lib = LoadLibraryA("tallylib.dll");
    if (!lib) {
        std::fprintf(stderr, "send_card: cannot load tallylib.dll (error %lu)\n", GetLastError());
        return 3;
    }
    // Through void *: a function pointer of one type is not cast straight to another.
    auto findModem =
        reinterpret_cast<FindModemFn>(reinterpret_cast<void *>(GetProcAddress(lib, "TallyCard_FindModem")));
    auto transmit = reinterpret_cast<TransmitFn>(reinterpret_cast<void *>(GetProcAddress(lib, "TallyCard_Transmit")));
    if (!findModem || !transmit) {
        std::fprintf(stderr, "send_card: tallylib.dll lacks TallyCard_FindModem or TallyCard_Transmit\n");
        FreeLibrary(lib);
        return 3;
    }

    // The search starts at the given port and speed and reports where it found the modem.
    long port = o.port, speed = o.speed;
    std::printf("Looking for a modem from COM%ld at %ld bit/s...\n", port, speed);
    if (findModem(&port, &speed, 0)) {
        std::printf("Modem on COM%ld at %ld bit/s.\n", port, speed);
    } else {
        std::printf("No modem found; the transmission searches again and reports it.\n");
        port = o.port, speed = o.speed;
    }

    std::printf("Sending %s to %s:\n", o.card, o.phone);
    std::fflush(stdout);
    const long protocol = 2;  // the TALLY block protocol
    long result = transmit(0, nullptr, PrintStatus, o.level, o.card, o.phone, o.customer, o.attempts, o.wait, port,
                           speed, protocol, o.block, o.flags);
    std::printf("Result %ld: %s.\n", result, ResultText(result));
    FreeLibrary(lib);
    return static_cast<int>(result);
}
