// Hayes modem control: the search over ports and speeds, the dial and the
// hang-up. Waits go through ttrap; progress through the status channel.
#pragma once

constexpr long DIAL_PULSE = 4;
constexpr long DIAL_BLIND = 8;
// "ATDT" or "ATDP", the number and "\r" in 256 bytes.
constexpr int DIAL_COMMAND_SIZE = 256;
constexpr int PHONE_NUMBER_MAX = DIAL_COMMAND_SIZE - 6;

// The modem set-up command with the speaker mode and "\r" (out: 32 bytes).
void _ModemSetupCommand(long flags, long speakerMode, char *out);
// The dial command into out (DIAL_COMMAND_SIZE bytes); false when the number
// does not fit.
bool _ModemDialCommand(const char *number, long flags, char *out);
// The speed at the head of the rest of a "CONNECT" line (blanks skipped), or
// 0 when there is no number there that could be a speed.
long _ModemConnectSpeed(const char *rest);

// 1 a modem answered on port (speed set to the rate that worked), 124 aborted,
// 0 none. wait in 1/100 s, 0 = 100.
int _ModemProbe(int port, long *speed, long wait);
// The first port from firstPort to 4 with a modem, or 0.
int _ModemFind(int firstPort, long *speed);
// The attempt that connected, 0 none, 124 aborted. The line stays open.
int _ModemDial(const char *number, const char *portText, long *speed, long attempts, long dialWait, long flags);
// 1 or the escape pass that hung up; 0 the line is still up.
int _ModemHangUp(const char *escape);

// A dial has got "CONNECT" since the library was loaded.
int _ModemConnected();
// Tests start from a library that has not connected yet.
void _ModemSetConnected(int connected);
