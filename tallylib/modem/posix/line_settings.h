// The terminal settings of the modem line, apart from the device, so that
// what a pty does not keep (size, parity) can be checked.
#pragma once
#include <termios.h>

// Raw, no flow control, reads that return at once, speed by _CommPortRate.
bool _CommBuildTermios(termios *line, long rate, char parity, int dataBits, int stopBits);
