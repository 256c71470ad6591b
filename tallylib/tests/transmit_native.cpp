// Sends a card through the POSIX line layer, as a host would through the DLL:
// tally_transmit_native CARD [PHONE [CUSTOMER [SPEED [BLOCKSIZE]]]].
// Port 1 is the device in TALLYLIB_COM1. Prints every status message; the
// exit code is the transmission's result.
#include <cstdio>
#include <cstdlib>

#include "tallylib.h"

namespace {

void TALLY_STDCALL OnStatus(intptr_t text)
{
    std::printf("%s\n", reinterpret_cast<const char *>(text));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CARD [PHONE [CUSTOMER [SPEED [BLOCKSIZE]]]]\n", argv[0]);
        return 2;
    }
    const char *phone = argc > 2 ? argv[2] : "5551234";
    const char *customer = argc > 3 ? argv[3] : "ANN42";
    long speed = argc > 4 ? std::atol(argv[4]) : 19200;
    long blockSize = argc > 5 ? std::atol(argv[5]) : 1024;
    long result = TallyCard_Transmit(0, nullptr, OnStatus, 4, argv[1], phone, customer, 3, 60, 1, speed, 2,
                                     blockSize, 0);
    std::printf("result %ld\n", result);
    return static_cast<int>(result);
}
