// The modem dialogue: probe, search, dial with its set-up commands, and the
// hang-up by DTR, "+++" and "ATH".
#include "modem.h"

#include <cstdio>
#include <cstring>

#include "comm.h"
#include "pump.h"
#include "state.h"
#include "status.h"
#include "substitution.h"
#include "tallylib.h"
#include "wait.h"

namespace {

const long searchRates[] = {38400, 19200, 9600, 2400, 1200, 0};
constexpr char LINE_PARITY = 'N';
constexpr int LINE_DATA_BITS = 8;
constexpr int LINE_STOP_BITS = 1;
constexpr int CONNECT_LINE_SIZE = 80;
constexpr int CONNECT_LINE_CAPACITY = 25;
// More digits than this are no speed.
constexpr int SPEED_DIGITS_MAX = 9;

int connected = 0;

void WriteText(const char *text) { _CommWriteString(text, static_cast<long>(std::strlen(text))); }

void SetNumber(const char *token, long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%ld", value);
    _SubstituteSetValue(token, text);
}

int SearchStart(long speed)
{
    long rate = _CommPortRate(speed);
    int i = 0;
    while (searchRates[i] != 0 && searchRates[i] != rate) ++i;
    return i;
}

// After "CONNECT": reads the speed digits and follows a different speed.
void FollowConnectSpeed(long *speed)
{
    char line[CONNECT_LINE_SIZE];
    int length = CONNECT_LINE_CAPACITY;
    _CommReadLine(line, &length, '\n', 100, 0);
    long connect = _ModemConnectSpeed(line);
    if (connect == 0 || connect == *speed) return;
    *speed = connect;
    SetNumber("$B", connect);
    _StatusMessage(STATUS_DETAIL, 106, nullptr);
    if (_CommSetBaud(connect) != 0) _StatusMessage(STATUS_TRACE, 0, "Can't change baud rate!");
}

int AwaitOk(long timeout) { return ttrap(timeout, "OK", "ERROR", static_cast<const char *>(nullptr)); }

int AwaitHungUp(long timeout) { return ttrap(timeout, "OK", "NO CARRIER", static_cast<const char *>(nullptr)); }

void PulseDtr()
{
    _CommSetDTR(0);
    _PumpMessagesFor(250);
    _CommSetDTR(1);
}

// Up to three "ATH": the pass number once hung up, else 0.
int SendAth(int pass)
{
    for (int i = 0; i < 3; ++i) {
        _PumpMessagesFor(250);
        _StatusMessage(STATUS_TRACE, 0, "Sending ATH to modem.");
        WriteText("ATH\r");
        int r = AwaitHungUp(200);
        if (r == 0 || r == 1) {
            _StatusMessage(STATUS_PROGRESS, 311, nullptr);
            return pass;
        }
    }
    _StatusMessage(STATUS_PROGRESS, 313, nullptr);
    PulseDtr();
    return 0;
}

}  // namespace

void _ModemSetupCommand(long flags, long speakerMode, char *out)
{
    const char *format = (flags & DIAL_BLIND) ? "ATE1V1Q0X1M%ld\r" : "ATE1V1Q0X2M%ld\r";
    std::snprintf(out, 32, format, speakerMode);
}

bool _ModemDialCommand(const char *number, long flags, char *out)
{
    if (!number) number = "";
    if (std::strlen(number) > static_cast<size_t>(PHONE_NUMBER_MAX)) {
        out[0] = '\0';
        return false;
    }
    std::snprintf(out, DIAL_COMMAND_SIZE, "%s%s\r", (flags & DIAL_PULSE) ? "ATDP" : "ATDT", number);
    return true;
}

long _ModemConnectSpeed(const char *rest)
{
    while (*rest == ' ') ++rest;
    long speed = 0;
    int digits = 0;
    for (; *rest >= '0' && *rest <= '9'; ++rest) {
        if (++digits > SPEED_DIGITS_MAX) return 0;
        speed = speed * 10 + (*rest - '0');
    }
    return speed;
}

int _ModemProbe(int port, long *speed, long wait)
{
    char portText[12];
    std::snprintf(portText, sizeof portText, "%d", port);
    int start = SearchStart(*speed);
    long openRate = searchRates[start];
    if (_CommOpen(portText, openRate, LINE_PARITY, LINE_DATA_BITS, LINE_STOP_BITS) != 0) {
        _StatusMessage(STATUS_DETAIL, 100, nullptr);
        return 0;
    }
    if (wait == 0) wait = 100;
    for (int i = start; searchRates[i] != 0; ++i) {
        long rate = searchRates[i];
        SetNumber("$B", rate);
        _StatusMessage(STATUS_PROGRESS, 104, nullptr);
        if (_CommSetLine(rate, LINE_PARITY, LINE_DATA_BITS, LINE_STOP_BITS) != 0) {
            _StatusMessage(STATUS_DETAIL, 102, nullptr);
            break;
        }
        int r = _ModemCommand("ATE1V1Q0\r", "OK", wait, 2);
        if (r == 1) {
            SetNumber("$B", rate);
            *speed = rate;
            _CommClose();
            return 1;
        }
        if (r == TTRAP_ABORTED) {
            _CommClose();
            return TTRAP_ABORTED;
        }
    }
    _CommClose();
    return 0;
}

int _ModemFind(int firstPort, long *speed)
{
    for (int port = firstPort; port <= 4; ++port) {
        SetNumber("$P", port);
        int r = _ModemProbe(port, speed, 100);
        _StatusMessage(STATUS_TRACE, 0, "Finished search on COM%d", port);
        if (r == 1) return port;
        if (r == TTRAP_ABORTED) return 0;
    }
    return 0;
}

extern "C" long TALLY_CDECL TallyCard_FindModem(long *port, long *speed, long)
{
    if (!port || !speed || *port < 1 || *port > 4) return 0;
    // Called from a window message during a transmission, a search would
    // take the running transmission's line away.
    if (_StateBusy()) return 0;
    long rate = *speed;
    if (rate != 1200 && rate != 2400 && rate != 4800 && rate != 9600 && rate != 19200 && rate != 38400) rate = 2400;
    int found = _ModemFind(static_cast<int>(*port), &rate);
    if (found == 0) return 0;
    *port = found;
    *speed = rate;
    return 1;
}

int _ModemDial(const char *number, const char *portText, long *speed, long attempts, long dialWait, long flags)
{
    char setup[32];
    char dial[DIAL_COMMAND_SIZE];
    _ModemSetupCommand(flags, _StateSpeakerMode(), setup);
    if (!_ModemDialCommand(number, flags, dial)) {
        _StatusMessage(STATUS_TRACE, 0, "Phone number over %d characters.", PHONE_NUMBER_MAX);
        return 0;
    }
    if (_CommOpen(portText, *speed, LINE_PARITY, LINE_DATA_BITS, LINE_STOP_BITS) != 0) {
        _StatusMessage(STATUS_DETAIL, 100, nullptr);
        return 0;
    }
    _WaitSeconds(1);
    for (long attempt = 1; attempt <= attempts; ++attempt) {
        if (attempt > 1) {
            WriteText("AT&F\r");
            if (AwaitOk(200) == TTRAP_ABORTED) return TTRAP_ABORTED;
            _WaitSeconds(1);
        }
        WriteText(setup);
        if (AwaitOk(200) == TTRAP_ABORTED) return TTRAP_ABORTED;
        _WaitSeconds(1);
        _StatusMessage(STATUS_MAIN, 107, nullptr);
        WriteText(dial);
        int r = ttrap(dialWait, "CONNECT", "NO CARRIER", "BUSY", "NO DIAL TONE", static_cast<const char *>(nullptr));
        if (r == TTRAP_ABORTED) return TTRAP_ABORTED;
        if (r == 0) {
            connected = 1;
            FollowConnectSpeed(speed);
            return static_cast<int>(attempt);
        }
        _StatusMessage(STATUS_PROGRESS, 111, nullptr);
        WriteText("\r");
        ttrap(100, "NO CARRIER", static_cast<const char *>(nullptr));
        _WaitSeconds(1);
    }
    return 0;
}

int _ModemHangUp(const char *escape)
{
    if (!connected) {
        _StatusMessage(STATUS_PROGRESS, 315, nullptr);
        return 1;
    }
    if (_CommSetDTR(0) == 0) {
        int r = AwaitHungUp(200);
        if (r == 0 || r == 1) {
            _StatusMessage(STATUS_PROGRESS, 305, nullptr);
            _CommSetDTR(1);
            return 1;
        }
    }
    _CommSetDTR(1);
    for (int pass = 1; pass <= 5; ++pass) {
        _WaitSeconds(1);
        _StatusMessage(STATUS_DETAIL, 307, nullptr);
        WriteText(escape);
        _WaitSeconds(1);
        int r = ttrap(300, "NO CARRIER", "OK", escape, static_cast<const char *>(nullptr));
        switch (r) {
        case 0:
            _StatusMessage(STATUS_DETAIL, 301, nullptr);
            return pass;
        case 1:
            _StatusMessage(STATUS_DETAIL, 309, nullptr);
            return SendAth(pass);
        case 2:
            _StatusMessage(STATUS_TRACE, 0, "We got %s from the modem.", escape);
            return SendAth(pass);
        case TTRAP_TIMEOUT: {
            _StatusMessage(STATUS_TRACE, 0, "Timeout waiting for NO CARRIER.");
            WriteText("\r");
            _PumpMessagesFor(250);
            _StatusMessage(STATUS_TRACE, 0, "Sending ATH to modem, 2 sec ttrap() follows.");
            WriteText("ATQ0E1H\r");
            int r2 = AwaitHungUp(200);
            if (r2 == 0 || r2 == 1) {
                _StatusMessage(STATUS_PROGRESS, 311, nullptr);
                return pass;
            }
            break;
        }
        case TTRAP_BAD_LIST:
            _StatusMessage(STATUS_TRACE, 0, "ttrap() error.");
            break;
        default:
            _StatusMessage(STATUS_TRACE, 0, "DEFAULT TTRAP");
            break;
        }
    }
    PulseDtr();
    _StatusMessage(STATUS_PROGRESS, 313, nullptr);
    return 0;
}

int _ModemConnected() { return connected; }
void _ModemSetConnected(int value) { connected = value; }
