// The card library's serial line to a Hayes modem. One line is open at a
// time; nothing here waits for input except _CommWaitInput. Implemented once
// per platform (win32/, posix/) and by a scripted line in the tests.
#pragma once

// Port speed for a requested or connect speed: 1200, 4800, 9600 as they are;
// 14400, 16800, 19200 give 19200; 23000, 24000, 28800, 38400 give 38400;
// anything else 2400.
long _CommPortRate(long rate);
// Device-record codes: "E" 2, "M" 3, "O" 1, "S" 4, any other letter 0 (none).
int _CommParityCode(char parity);
// 2 gives two stop bits (code 2); any other value one (code 0).
int _CommStopCode(int stopBits);

// Opens port "1" to "4" and configures it; DTR is raised. 0 or -1.
int _CommOpen(const char *port, long rate, char parity, int dataBits, int stopBits);
// Re-applies the whole configuration; 0 or -1 (the line keeps its old settings).
int _CommSetLine(long rate, char parity, int dataBits, int stopBits);
// Changes the speed only, through _CommPortRate; 0 or -1.
int _CommSetBaud(long rate);
// Raises (on != 0) or drops DTR; 0 or -1.
int _CommSetDTR(int on);
// Drops DTR, then closes. Always 0.
int _CommClose();
// Received bytes waiting (0 when none or no line); clears line errors.
long _CommCharsWaiting();
// The next received byte; 0xFF when the read fails or no line is open.
int _CommReadChar();
// 0 or -1.
int _CommWriteChar(unsigned char byte);
// Writes in one call, bounded by 100 ms per byte plus 100 ms: the number of
// bytes the line took (0 to length); -1 when length is below 1 or no line.
long _CommWriteString(const void *buffer, long length);

// Gives the processor back until a byte is waiting, a window message may be
// pending, or about ms milliseconds have passed. Callers ask for a few ms.
void _CommWaitInput(unsigned long ms);
