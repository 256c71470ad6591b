// The line parameter mappings shared by every platform's line layer.
#include "comm.h"

long _CommPortRate(long rate)
{
    switch (rate) {
    case 1200: return 1200;
    case 4800: return 4800;
    case 9600: return 9600;
    case 14400:
    case 16800:
    case 19200: return 19200;
    case 23000:
    case 24000:
    case 28800:
    case 38400: return 38400;
    default: return 2400;
    }
}

int _CommParityCode(char parity)
{
    switch (parity) {
    case 'E': return 2;
    case 'M': return 3;
    case 'O': return 1;
    case 'S': return 4;
    default: return 0;
    }
}

int _CommStopCode(int stopBits) { return stopBits == 2 ? 2 : 0; }
