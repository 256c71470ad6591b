// The Linux front end: the poll cycle on a serial device by default, or one
// batch with `send` and `receive`; progress as event lines for scripts or as a
// status line at a terminal (docs/mosslane.md).
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "driver.h"
#include "extensions.h"
#include "filestore.h"
#include "serial.h"
#include "settings.h"
#include "tick.h"
#include "wire_path.h"

volatile sig_atomic_t stopRequested = 0;
volatile sig_atomic_t reopenLogRequested = 0;

namespace {

enum : uint32_t { TickPeriodMs = 500 };

WireNames chosenWireNames = WireCp1252;

void OnStopSignal(int) {
    stopRequested = 1;
}

// Set when the program runs at a terminal, whose hangup ends it; without one
// (a service), SIGHUP asks for the log to be reopened.
volatile sig_atomic_t hangupStops = 0;

void OnHangupSignal(int) {
    if (hangupStops) stopRequested = 1;
    else reopenLogRequested = 1;
}

bool ToWire(const char* in, char* out, size_t size) {
    return LocalToWire(chosenWireNames, in, out, size);
}

bool ToLocal(const char* in, char* out, size_t size) {
    return WireToLocal(chosenWireNames, in, out, size);
}

// The folder as an absolute path that fits the setting, or false.
bool ResolveFolder(const char* key, const char* path, char* resolved) {
    char full[PATH_MAX];
    struct stat info;
    if (realpath(path, full) == nullptr || stat(full, &info) != 0 || !S_ISDIR(info.st_mode)) {
        fprintf(stderr, "mosslane: %s %s: not a folder\n", key, path);
        return false;
    }
    if (strlen(full) >= static_cast<size_t>(SettingPathSize)) {
        fprintf(stderr, "mosslane: %s %s: path too long\n", key, path);
        return false;
    }
    strcpy(resolved, full);
    return true;
}

bool Required(const Settings& settings, SettingId id) {
    if (settings.all[id].value[0] != '\0') return true;
    fprintf(stderr, "mosslane: --%s is required (or the line %s = ... in %s)\n", settings.all[id].key,
            settings.all[id].key, settings.file[0] ? settings.file : "the settings file");
    return false;
}

// What the command needs, checked and handed to the engine.
bool ApplySettings(const Settings& settings, Command command) {
    bool needIn = command != CommandSend;
    bool needOut = command == CommandPoll;
    if ((needIn && !Required(settings, SetIn)) || (needOut && !Required(settings, SetOut)) ||
        !Required(settings, SetDevice)) {
        return false;
    }
    char in[SettingPathSize] = "";
    char out[SettingPathSize] = "";
    if ((needIn && !ResolveFolder("--in", settings.all[SetIn].value, in)) ||
        (needOut && !ResolveFolder("--out", settings.all[SetOut].value, out))) {
        return false;
    }
    char extensions[SettingExtensionsSize];
    // The list was checked to fit when it was read.
    size_t n = strnlen(settings.all[SetExtensions].value, sizeof extensions - 1);
    memcpy(extensions, settings.all[SetExtensions].value, n);
    extensions[n] = '\0';
    NormalizeExtensionList(extensions);
    LineSetup setup = LineSetupOf(settings);
    SetInDirectory(in);
    SetOutDirectory(out);
    SetTranslateText(setup.translate);
    SetTextExtensions(extensions);
    chosenWireNames = setup.wireNames;
    SetWirePathFunctions(ToWire, ToLocal);
    return true;
}

void InstallSignalHandlers() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = OnHangupSignal;
    sigaction(SIGHUP, &action, nullptr);
    // Whoever reads the lines may go away; the transfers go on.
    signal(SIGPIPE, SIG_IGN);
}

void RunPollCycle() {
    uint32_t due = TickCount();
    while (!stopRequested) {
        int32_t wait = static_cast<int32_t>(due - TickCount());
        if (wait > 0) SleepUnlessStopped(static_cast<uint32_t>(wait));
        if (stopRequested) break;
        if (reopenLogRequested) ReopenRunLog();
        due += TickPeriodMs;
        if (!TransferBusy()) PollTick();
        // After a long transfer the missed ticks are not made up.
        if (static_cast<int32_t>(TickCount() - due) > 0) due = TickCount();
    }
}

OutputStyle ChooseStyle(const Invocation& invocation) {
    if (invocation.quiet) return OutputQuiet;
    return isatty(STDOUT_FILENO) ? OutputTerminal : OutputEvents;
}

void Announce(OutputStyle style, const Settings& settings, const LineSetup& setup) {
    if (style == OutputEvents) {
        printf("ready\n");
        fflush(stdout);
    } else if (style == OutputTerminal) {
        printf("Ready on %s at %lu bit/s, handshaking %s.\n", settings.all[SetDevice].value,
               static_cast<unsigned long>(setup.baudRate), setup.handShake == HandshakeCts ? "CTS" : "none");
    }
}

}  // namespace

int main(int argc, char** argv) {
    static Settings settings;
    static Invocation invocation;
    if (!LoadInvocation(argc, argv, &settings, &invocation)) {
        fputs(kUsage, stderr);
        return ExitUsage;
    }
    if (invocation.help) {
        fputs(kUsage, stdout);
        return ExitOk;
    }
    if (invocation.version) {
        puts(kVersion);
        return ExitOk;
    }
    if (invocation.showSettings) {
        PrintSettings(settings);
        return ExitOk;
    }
    if (invocation.command == CommandSend && invocation.pathCount == 0) {
        fprintf(stderr, "mosslane: send needs at least one file or folder\n");
        fputs(kUsage, stderr);
        return ExitUsage;
    }
    if (!ApplySettings(settings, invocation.command)) {
        fputs(kUsage, stderr);
        return ExitUsage;
    }
    const char* log = settings.all[SetLog].value;
    if (log[0] != '\0' && !OpenRunLog(log)) return ExitUsage;
    InstallSignalHandlers();
    // Partial files of a run that was killed or lost power mid-file.
    RemoveIncomingLeftovers();
    const LineSetup setup = LineSetupOf(settings);
    const char* device = settings.all[SetDevice].value;
    char holder[512];
    if (HeldByLockFile(device, holder, sizeof holder)) {
        CloseRunLog();
        return ExplainLockedDevice(device, holder);
    }
    if (!SerialOpenDevice(device, setup.baudRate, setup.handShake)) {
        SerialCloseDevice();
        CloseRunLog();
        return ExplainDeviceFailure(device);
    }
    const OutputStyle style = ChooseStyle(invocation);
    hangupStops = isatty(STDIN_FILENO) || isatty(STDOUT_FILENO) ? 1 : 0;
    StartProgress(style, setup.wireNames);
    SetProgressFunction(ReportProgress);
    Announce(style, settings, setup);
    int code = ExitOk;
    switch (invocation.command) {
    case CommandPoll: RunPollCycle(); break;
    case CommandSend: code = RunSend(invocation); break;
    case CommandReceive: code = RunReceive(invocation); break;
    }
    SerialCloseDevice();
    CloseRunLog();
    return code;
}
