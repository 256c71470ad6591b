// The status channel, the module flags and the waits, called from inside the
// library's own code (linked into this program with the library's resources).
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "memory.h"
#include "pump.h"
#include "state.h"
#include "status.h"
#include "substitution.h"

namespace {

// What the host callback received: ids in code mode, texts in text mode.
std::vector<std::string> received;
bool codeMode = false;

void TALLY_STDCALL HostCallback(intptr_t value)
{
    received.push_back(codeMode ? "#" + std::to_string(static_cast<long>(value))
                                : std::string(reinterpret_cast<const char *>(value)));
}

struct Emit {
    long level;
    long id;
    const char *format;  // level 4 only: "%s" of argument text, or "%d" of argument number
    const char *text;
    long number;
    int result;
    const char *delivered;  // what the callback or the window shows; null: nothing
};

struct ChannelCase {
    const char *name;
    long level;
    bool callback;
    long infoCodes;
    std::vector<Emit> emits;
};

const std::string longPath = "C:\\cards\\" + std::string(120, 'p');

void SetTransmissionValues()
{
    _SubstituteSetValue("$P", "2");
    _SubstituteSetValue("$B", "2400");
    _SubstituteSetValue("$F", longPath.c_str());
    _SubstituteSetValue("$S", "");
    _SubstituteSetValue("$A", "0");
    _SubstituteSetValue("$N", "0");
}

const std::string trace161 = std::string(161, 't');
const std::string traceTooLong = trace161 + "overflow";
const std::string errorOpening = ("Error opening " + longPath).substr(0, 80);

const ChannelCase channelCases[] = {
    {"level 2 filters", 2, true, 0,
     {{3, 125, nullptr, nullptr, 0, 1, nullptr},
      {2, 108, nullptr, nullptr, 0, 0, "Found a modem on COM2"},
      {4, 0, "trace %d", nullptr, 7, 1, nullptr}}},
    {"code mode", 4, true, 1,
     {{2, 108, nullptr, nullptr, 0, 0, "#108"},
      {1, 0, nullptr, nullptr, 0, 0, "#0"},
      {4, 0, "line %s", "x", 0, 0, "#0"},
      {2, 315, nullptr, nullptr, 0, 0, "#315"},
      {1, 103, nullptr, nullptr, 0, 0, "#103"}}},
    {"code mode filters too", 1, true, 1, {{2, 108, nullptr, nullptr, 0, 1, nullptr}}},
    {"text mode", 4, true, 0,
     {{2, 104, nullptr, nullptr, 0, 0, "Looking for modem on COM2 at 2400 baud."},
      {1, 107, nullptr, nullptr, 0, 0, "Dialing the modem."},
      {2, 315, nullptr, nullptr, 0, 1, nullptr},
      {1, 0, nullptr, nullptr, 0, 1, nullptr},
      {3, 103, nullptr, nullptr, 0, 1, nullptr},
      {4, 0, "on COM$P: %s", "ok", 0, 0, "on COM2: ok"},
      {4, 0, "%d login errors", nullptr, 3, 0, "3 login errors"},
      {4, 0, "%s", traceTooLong.c_str(), 0, 0, trace161.c_str()},
      {2, 222, nullptr, nullptr, 0, 0, " bytes received (0 ACK) (0 NAK)"},
      {1, 500, nullptr, nullptr, 0, 0, errorOpening.c_str()}}},
    {"level 0 passes nothing", 0, true, 0, {{1, 107, nullptr, nullptr, 0, 1, nullptr}}},
};

int EmitOne(const Emit &e)
{
    if (e.level != 4) return _StatusMessage(e.level, e.id, nullptr);
    if (e.text) return _StatusMessage(e.level, e.id, e.format, e.text);
    return _StatusMessage(e.level, e.id, e.format, static_cast<int>(e.number));
}

void ChannelWithCallback()
{
    SetTransmissionValues();
    for (const ChannelCase &c : channelCases) {
        TallyCard_InfoCodes(c.infoCodes);
        codeMode = c.infoCodes != 0;
        _StatusOpen(nullptr, c.level, c.callback ? HostCallback : nullptr);
        for (const Emit &e : c.emits) {
            received.clear();
            std::string label = std::string(c.name) + ": level " + std::to_string(e.level) + " id " +
                                std::to_string(e.id);
            CHECK_EQ(e.result, EmitOne(e), label);
            std::vector<std::string> want;
            if (e.delivered) want.push_back(e.delivered);
            CHECK_EQ(want.size(), received.size(), label);
            if (e.delivered && received.size() == 1) CHECK_EQ(std::string(e.delivered), received[0], label);
        }
        _StatusClose();
    }
    TallyCard_InfoCodes(0);
    codeMode = false;
    received.clear();
    CHECK_EQ(1, _StatusMessage(1, 107, nullptr), "closed channel suppresses");
    CHECK_EQ(size_t(0), received.size(), "closed channel calls nobody");
}

std::string StatusWindowText()
{
    HWND dialog = FindWindowA(nullptr, "Transmission Information");
    if (!dialog) return "<no window>";
    char text[200] = {};
    GetDlgItemTextA(dialog, 4321, text, sizeof text);
    return text;
}

void ChannelWithWindow()
{
    SetTransmissionValues();
    // Without a callback code mode is dropped: the window shows texts.
    TallyCard_InfoCodes(1);
    _StatusOpen(nullptr, 2, nullptr);
    HWND dialog = FindWindowA(nullptr, "Transmission Information");
    CHECK_EQ(true, dialog != nullptr, "status window created");
    CHECK_EQ(std::string(), StatusWindowText(), "status text starts empty");
    CHECK_EQ(0, _StatusMessage(2, 108, nullptr), "window: level 2");
    CHECK_EQ(std::string("Found a modem on COM2"), StatusWindowText(), "window shows the message");
    CHECK_EQ(1, _StatusMessage(3, 125, nullptr), "window: level 3 filtered");
    CHECK_EQ(std::string("Found a modem on COM2"), StatusWindowText(), "filtered message leaves the text");
    _StatusClose();
    CHECK_EQ(true, FindWindowA(nullptr, "Transmission Information") == nullptr, "status window destroyed");

    _StatusOpen(nullptr, 0, nullptr);
    CHECK_EQ(true, FindWindowA(nullptr, "Transmission Information") == nullptr, "level 0 creates no window");
    CHECK_EQ(1, _StatusMessage(1, 107, nullptr), "level 0 suppresses");
    _StatusClose();
}

void InfoCodesDuringTransmission()
{
    TallyCard_InfoCodes(0);
    _StateSetBusy(1);
    CHECK_EQ(1L, TallyCard_InfoCodes(1), "InfoCodes(1) while busy returns 1");
    CHECK_EQ(static_cast<long>(TALLY_ERR_BUSY),
             TallyCard_Transmit(0, nullptr, nullptr, 1, "x", "1", "id", 1, 1, 1, 2400, 0, 128, 0),
             "second transmission refused");
    codeMode = false;
    _StatusOpen(nullptr, 4, HostCallback);
    received.clear();
    _StatusMessage(1, 107, nullptr);
    CHECK_EQ(size_t(1), received.size(), "one message");
    if (!received.empty()) CHECK_EQ(std::string("Dialing the modem."), received[0], "text mode kept");
    _StatusClose();
    _StateFinishTransmission();
}

void TextsAfterATransmission()
{
    _SubstituteClearAll();
    char out[81];
    CHECK_EQ(35L, TallyCard_CodeToString(222, out), "222 before");
    CHECK_EQ(std::string(" bytes received ( ACK) ( NAK)"), std::string(out), "222 before");
    SetTransmissionValues();
    CHECK_EQ(35L, TallyCard_CodeToString(222, out), "222 after");
    CHECK_EQ(std::string(" bytes received (0 ACK) (0 NAK)"), std::string(out), "222 after");
    CHECK_EQ(22L, TallyCard_CodeToString(108, out), "108 after");
    CHECK_EQ(std::string("Found a modem on COM2"), std::string(out), "odd ids substituted on request too");

    char twice[81] = "$P and $P";
    CHECK_EQ(1L, TallyCard_StringSub(twice), "StringSub without $W");
    CHECK_EQ(std::string("2 and $P"), std::string(twice), "$P twice: only the first replaced");
}

void AbortFlags()
{
    CHECK_EQ(0L, _StateAbort(), "no abort at start");
    TallyCard_Abort();
    CHECK_EQ(1L, _StateAbort(), "abort flag");
    CHECK_EQ(1L, _StateAbortWait(), "abort-wait flag");
    _StateClearAbortWait();
    TallyCard_Abort();  // already pending: changes nothing
    CHECK_EQ(0L, _StateAbortWait(), "a second abort does not set the wait flag again");
    _StateFinishTransmission();
    CHECK_EQ(0L, _StateAbort(), "cleared at the end of a transmission");
    CHECK_EQ(1L, _StateSpeakerMode(), "speaker mode starts at 1");
    TallyCard_Speaker(0);
    CHECK_EQ(0L, _StateSpeakerMode(), "speaker mode stored");
    CHECK_EQ(std::string("1.6"), std::string(_StateLibraryVersion()), "library version");
}

int posted = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER) ++posted;
    return DefWindowProcA(window, message, wParam, lParam);
}

void Waits()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TallyPumpTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("TallyPumpTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    PostMessageA(window, WM_USER, 0, 0);
    PostMessageA(window, WM_USER, 0, 0);
    _PumpMessages();
    CHECK_EQ(2, posted, "_PumpMessages dispatches every waiting message");
    PostMessageA(window, WM_USER, 0, 0);
    DWORD start = GetTickCount();
    unsigned long elapsed = _PumpMessagesFor(120);
    DWORD measured = GetTickCount() - start;
    CHECK_EQ(true, elapsed >= 120 && elapsed <= measured, "_PumpMessagesFor returns the time waited");
    CHECK_EQ(3, posted, "_PumpMessagesFor dispatches while it waits");
    CHECK_EQ(true, _PumpMessagesFor(0) < 50, "a zero wait returns at once");
    DestroyWindow(window);
    CHECK_EQ(0, _MemFree(nullptr), "_MemFree(null)");
    void *block = _MemAlloc(162);
    CHECK_EQ(true, block != nullptr, "_MemAlloc");
    CHECK_EQ(0, _MemFree(block), "_MemFree");
}

}  // namespace

int main()
{
    // The library's resources are linked into this program.
    _StateSetModule(GetModuleHandleA(nullptr));
    ChannelWithCallback();
    ChannelWithWindow();
    InfoCodesDuringTransmission();
    TextsAfterATransmission();
    AbortFlags();
    Waits();
    std::printf("%d failures\n", CheckFailures());
    return CheckFailures() == 0 ? 0 : 1;
}
