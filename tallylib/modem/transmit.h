// The transmit operation's own steps, open to the tests.
#pragma once

constexpr int KEY_SIZE = 12;
constexpr int PORT_TEXT_SIZE = 2;
constexpr int LOGIN_TEXT_SIZE = 80;
constexpr int CUSTOMER_CODE_SIZE = 3 + 11 + 1;

// "006" and the customer identifier's first 11 characters up to its first
// blank, or "006NO_ID" for an empty identifier (out: CUSTOMER_CODE_SIZE).
void _TransmitCustomerCode(const char *identifier, char *out);
// The login text: code!protocol#blocksize$(version) (out: LOGIN_TEXT_SIZE).
void _TransmitLoginText(const char *customerCode, long protocol, long blockSize, char *out);
// Sends the login line until the server verifies it: 1 verified (key filled
// in), 0 not. speed is the current speed, startSpeed the one to fall back to.
int _Login(const char *loginText, char *key, int attempts, long speed, long startSpeed);
// Releases what the transmission holds and clears the flags; code.
long _TransmitFinish(long code);
