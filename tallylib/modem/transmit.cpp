// TallyCard_Transmit: search, dial, login, blocks and hang-up in one call,
// every path ending in _TransmitFinish.
#include "transmit.h"

#include <cstdio>
#include <cstring>

#include "blocks.h"
#include "comm.h"
#include "memory.h"
#include "modem.h"
#include "state.h"
#include "status.h"
#include "substitution.h"
#include "tallylib.h"
#include "wait.h"

namespace {

char *keyBuffer = nullptr;
char *portText = nullptr;
char *loginText = nullptr;

const char ESCAPE[] = "+++";

struct Arguments {
    const char *cardPath;
    const char *phone;
    const char *customerId;
    long dialAttempts;
    long dialWaitSeconds;
    int port;
    long speed;
    long protocol;
    long blockSize;
    long dialFlags;
    long level;
};

long Clamp(long value, long low, long high) { return value < low ? low : value > high ? high : value; }

bool KnownSpeed(long speed)
{
    return speed == 1200 || speed == 2400 || speed == 4800 || speed == 9600 || speed == 19200 || speed == 38400;
}

bool FileExists(const char *path)
{
    if (!path) return false;
    std::FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

void ReleaseBuffers()
{
    _MemFree(keyBuffer);
    _MemFree(portText);
    _MemFree(loginText);
    keyBuffer = portText = loginText = nullptr;
}

void ProtocolMessage(long protocol)
{
    switch (protocol) {
    case 2: return;
    case 10: _StatusMessage(STATUS_DETAIL, 203, nullptr); return;
    case 11: _StatusMessage(STATUS_DETAIL, 205, nullptr); return;
    case 12: _StatusMessage(STATUS_DETAIL, 207, nullptr); return;
    case 13: _StatusMessage(STATUS_DETAIL, 209, nullptr); return;
    default: _StatusMessage(STATUS_DETAIL, 211, nullptr); return;
    }
}

void HangUpAndClose()
{
    _ModemHangUp(ESCAPE);
    _CommClose();
}

long AbortExit(bool hangUp)
{
    _StatusMessage(STATUS_MAIN, 503, nullptr);
    // The hang-up's own waits must work again.
    _StateClearAbortWait();
    if (hangUp) HangUpAndClose();
    return _TransmitFinish(TALLY_ERR_ABORTED);
}

void SetSubstitutions(const Arguments &a, long speed, const char *customerCode)
{
    char speedText[24];
    std::snprintf(speedText, sizeof speedText, "%ld", speed);
    _SubstituteSetValue("$#", a.phone);
    _SubstituteSetValue("$B", speedText);
    _SubstituteSetValue("$F", a.cardPath);
    _SubstituteSetValue("$L", "");
    _SubstituteSetValue("$S", "");
    _SubstituteSetValue("$A", "0");
    _SubstituteSetValue("$N", "0");
    _SubstituteSetValue("$I", customerCode);
    _SubstituteSetValue("$W", "");
}

// From the search to the hang-up; the line is closed on every path.
long Run(const Arguments &a)
{
    long speed = a.speed;
    const long startSpeed = a.speed;
    char customerCode[CUSTOMER_CODE_SIZE];
    _StatusMessage(STATUS_TRACE, 0, "Customer code = %s", _StateClientCode());
    _TransmitCustomerCode(a.customerId, customerCode);
    SetSubstitutions(a, speed, customerCode);

    int port = _ModemFind(a.port, &speed);
    if (_StateAbort()) return AbortExit(false);
    if (port == 0) {
        _StatusMessage(STATUS_MAIN, 501, nullptr);
        _CommClose();
        return _TransmitFinish(TALLY_ERR_NO_MODEM);
    }
    std::snprintf(portText, PORT_TEXT_SIZE, "%d", port);
    _StatusMessage(STATUS_PROGRESS, 108, nullptr);

    int dialled = _ModemDial(a.phone, portText, &speed, a.dialAttempts, a.dialWaitSeconds * 100, a.dialFlags);
    if (_StateAbort()) return AbortExit(true);
    if (dialled == 0) {
        HangUpAndClose();
        return _TransmitFinish(TALLY_ERR_DIAL);
    }

    _StatusMessage(STATUS_MAIN, 121, nullptr);
    _TransmitLoginText(customerCode, a.protocol, a.blockSize, loginText);
    int verified = _Login(loginText, keyBuffer, 20, speed, startSpeed);
    if (_StateAbort()) return AbortExit(true);
    if (!verified) {
        _StatusMessage(STATUS_PROGRESS, 123, nullptr);
        HangUpAndClose();
        return _TransmitFinish(TALLY_ERR_LOGIN);
    }

    _StatusMessage(STATUS_MAIN, 201, nullptr);
    ProtocolMessage(a.protocol);
    _StatusMessage(STATUS_PROGRESS, 213, nullptr);
    long sent = _SendFile(a.cardPath, keyBuffer, 3, PACK_7, a.blockSize, _BlockTimeout(speed, a.blockSize));
    if (_StateAbort()) return AbortExit(true);
    if (sent != 0) {
        _StatusMessage(STATUS_PROGRESS, 227, nullptr);
        _StatusMessage(STATUS_MAIN, 303, nullptr);
        HangUpAndClose();
        _StatusMessage(STATUS_MAIN, 507, nullptr);
        return _TransmitFinish(sent);
    }

    _StatusMessage(STATUS_MAIN, 303, nullptr);
    int hungUp = _ModemHangUp(ESCAPE);
    _CommClose();
    if (hungUp == 0) return _TransmitFinish(TALLY_ERR_HANGUP);
    _StatusMessage(STATUS_MAIN, 401, nullptr);
    return _TransmitFinish(TALLY_OK);
}

}  // namespace

void _TransmitCustomerCode(const char *identifier, char *out)
{
    std::snprintf(out, CUSTOMER_CODE_SIZE, "%s", _StateClientCode());
    if (!identifier || identifier[0] == '\0') {
        std::snprintf(out, CUSTOMER_CODE_SIZE, "%sNO_ID", _StateClientCode());
        return;
    }
    size_t n = std::strlen(out);
    for (int i = 0; i < 11 && identifier[i] != '\0' && identifier[i] != ' '; ++i) out[n++] = identifier[i];
    out[n] = '\0';
}

void _TransmitLoginText(const char *customerCode, long protocol, long blockSize, char *out)
{
    std::snprintf(out, LOGIN_TEXT_SIZE, "%s%c%ld%c%ld%c(%s)", customerCode, '!', protocol, '#', blockSize, '$',
                  _StateLibraryVersion());
}

int _Login(const char *text, char *key, int attempts, long speed, long startSpeed)
{
    static const char nak[2] = {static_cast<char>(BLOCK_NAK), 0};
    char crcText[CRC_TEXT_LENGTH + 1];
    _CrcText(_Crc32(text, static_cast<long>(std::strlen(text))), crcText, false);
    char line[LOGIN_TEXT_SIZE + CRC_TEXT_LENGTH + 3];
    int length = std::snprintf(line, sizeof line, "%s %s\n", text, crcText);
    std::memcpy(key, crcText, sizeof crcText);

    int n = attempts;
    int passes = 0;
    int naks = 0;
    while (n > 0) {
        if (speed != startSpeed) {
            ++passes;
            if (passes > 1 && n % 5 == 0) {
                speed = startSpeed;
                _StatusMessage(STATUS_TRACE, 0, "%d login errors - Resetting baud rate to %ld baud.", passes, speed);
                _CommSetBaud(speed);
            }
        }
        _CommWriteString(line, length);
        _StatusMessage(STATUS_DETAIL, 125, nullptr);
        int r = ttrap(400, "Login OK #", nak, "NO CARRIER", static_cast<const char *>(nullptr));
        switch (r) {
        case 0:
            _StatusMessage(STATUS_PROGRESS, 127, nullptr);
            return 1;
        case 1:
            if (++naks == 4) {
                _StatusMessage(STATUS_PROGRESS, 127, nullptr);
                return 1;
            }
            break;
        case 2:
            _StatusMessage(STATUS_PROGRESS, 301, nullptr);
            return 0;
        case TTRAP_BAD_LIST:
            _StatusMessage(STATUS_TRACE, 0, "a ttrap error occurred!");
            return 0;
        case TTRAP_ABORTED:
            return 0;
        case TTRAP_TIMEOUT:
            _StatusMessage(STATUS_TRACE, 0, "we timed out!");
            --n;
            break;
        default:
            break;
        }
    }
    return 0;
}

long _TransmitFinish(long code)
{
    ReleaseBuffers();
    _PatternSlotsFree();
    _TimerResetAll();
    _StatusClose();
    _StateFinishTransmission();
    return code;
}

extern "C" long TALLY_CDECL TallyCard_Transmit(long, void *parentWindow, TallyCard_StatusCallback callback,
                                                long level, const char *cardPath, const char *phone,
                                                const char *customerId, long dialAttempts, long dialWaitSeconds,
                                                long firstPort, long speed, long protocol, long blockSize,
                                                long dialFlags)
{
    if (_StateBusy()) return TALLY_ERR_BUSY;
    _StateSetBusy(1);
    keyBuffer = static_cast<char *>(_MemAlloc(KEY_SIZE));
    portText = static_cast<char *>(_MemAlloc(PORT_TEXT_SIZE));
    loginText = static_cast<char *>(_MemAlloc(LOGIN_TEXT_SIZE));
    if (!keyBuffer || !portText || !loginText) {
        ReleaseBuffers();
        _StateSetBusy(0);
        return TALLY_ERR_MEMORY;
    }
    std::memset(keyBuffer, 0, KEY_SIZE);
    Arguments a;
    a.cardPath = cardPath;
    a.phone = phone ? phone : "";
    a.customerId = customerId ? customerId : "";
    a.dialAttempts = dialAttempts;
    a.dialWaitSeconds = Clamp(dialWaitSeconds, 0, 3600);
    a.protocol = protocol >= 2 && protocol <= 13 ? protocol : 2;
    a.level = Clamp(level, 0, 4);
    a.blockSize = Clamp(blockSize, 128, 2048);
    a.port = firstPort >= 1 && firstPort <= 4 ? static_cast<int>(firstPort) : 1;
    // Any other speed, 0 included, starts the search and the fall-back at 2400.
    a.speed = KnownSpeed(speed) ? speed : 2400;
    a.dialFlags = dialFlags;
    if (!FileExists(cardPath)) return _TransmitFinish(TALLY_ERR_FILE);
    _StatusOpen(parentWindow, a.level, callback);
    return Run(a);
}
