// The Linux front end: the poll cycle on a serial device, with every progress
// event printed as one line on standard output (format in docs/mosslane.md).
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "driver.h"
#include "extensions.h"
#include "filestore.h"
#include "frontend.h"
#include "message.h"
#include "pump.h"
#include "serial.h"
#include "settings.h"
#include "status.h"
#include "tick.h"

namespace {

enum : uint32_t { TickPeriodMs = 500, CountersGapMs = 250 };
enum : int { ExitOk = 0, ExitNoPort = 1, ExitUsage = 2 };

volatile sig_atomic_t stopRequested = 0;

struct Options {
    const char* inDirectory = nullptr;
    const char* outDirectory = nullptr;
    const char* device = nullptr;
    uint32_t baudRate = 57600;
    uint8_t handShake = HandshakeCts;
    uint8_t translate = 1;
    const char* extensions = ".txt";
};

// The last counters line, so that a busy transfer prints a few per second.
uint32_t lastCountersTick = 0;
int16_t lastCountersErrors = 0;
bool countersPrinted = false;

const char kUsage[] =
    "usage: mosslane --in DIR --out DIR --device PATH [--baud 115200|57600|19200]\n"
    "                [--handshake cts|none] [--text-extensions \".txt .ini\"] [--no-translate]\n";

void OnStopSignal(int) {
    stopRequested = 1;
}

void PrintLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

// A name is printed on one line whatever it holds.
void PrintableName(const char* name, char* out, size_t size) {
    size_t i = 0;
    for (; name != nullptr && name[i] != '\0' && i + 1 < size; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        out[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    out[i] = '\0';
}

void PrintCounters(const TransferStatus* status) {
    if (status->bytesLeft == 0 && status->errors == 0 && status->totalBytes == 0) return;
    const uint32_t now = TickCount();
    const bool errorsChanged = status->errors != lastCountersErrors;
    if (countersPrinted && !errorsChanged && now - lastCountersTick < CountersGapMs) return;
    countersPrinted = true;
    lastCountersTick = now;
    lastCountersErrors = status->errors;
    PrintLine("counters left %ld errors %d total %ld", static_cast<long>(status->bytesLeft),
              status->errors, static_cast<long>(status->totalBytes));
}

void PrintFileStarted(const TransferStatus* status) {
    char name[ReceivePathSize];
    PrintableName(status->currentName, name, sizeof name);
    PrintLine("%s %s size %ld", status->direction == DirectionReceiving ? "receiving" : "sending",
              name, static_cast<long>(status->fileSize));
}

uint16_t ReportProgress(TransferStatus* status, int16_t event) {
    switch (event) {
    case Counters: PrintCounters(status); break;
    case FileStarted: PrintFileStarted(status); break;
    case BatchFinished:
        PrintLine("finished files %d total %ld", status->files, static_cast<long>(status->totalBytes));
        break;
    case TransferOpening:
        ClearCancel();
        PrintLine("opening");
        break;
    default: break;
    }
    // A stop signal cancels the transfer as the Cancel button would.
    if (stopRequested) RequestCancel();
    return CancelRequested() ? 1 : 0;
}

bool ParseBaud(const char* text, uint32_t* baud) {
    char* end = nullptr;
    unsigned long rate = strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0') return false;
    if (rate != 115200 && rate != 57600 && rate != 19200) return false;
    *baud = static_cast<uint32_t>(rate);
    return true;
}

bool ParseHandshake(const char* text, uint8_t* handShake) {
    if (strcmp(text, "cts") == 0) *handShake = HandshakeCts;
    else if (strcmp(text, "none") == 0) *handShake = HandshakeNone;
    else return false;
    return true;
}

// One option with its value; false when it is unknown or its value is bad.
bool ParseOption(const char* name, const char* value, Options* options) {
    if (strcmp(name, "--in") == 0) options->inDirectory = value;
    else if (strcmp(name, "--out") == 0) options->outDirectory = value;
    else if (strcmp(name, "--device") == 0) options->device = value;
    else if (strcmp(name, "--text-extensions") == 0) options->extensions = value;
    else if (strcmp(name, "--baud") == 0) return ParseBaud(value, &options->baudRate);
    else if (strcmp(name, "--handshake") == 0) return ParseHandshake(value, &options->handShake);
    else return false;
    return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--no-translate") == 0) {
            options->translate = 0;
            continue;
        }
        if (i + 1 >= argc || !ParseOption(argv[i], argv[i + 1], options)) {
            fprintf(stderr, "mosslane: bad option or value: %s\n", argv[i]);
            return false;
        }
        ++i;
    }
    if (options->inDirectory && options->outDirectory && options->device) return true;
    fprintf(stderr, "mosslane: --in, --out and --device are required\n");
    return false;
}

// The folder as an absolute path that fits the setting, or false.
bool ResolveFolder(const char* option, const char* path, char* resolved) {
    char full[PATH_MAX];
    struct stat info;
    if (realpath(path, full) == nullptr || stat(full, &info) != 0 || !S_ISDIR(info.st_mode)) {
        fprintf(stderr, "mosslane: %s %s: not a folder\n", option, path);
        return false;
    }
    if (strlen(full) >= static_cast<size_t>(SettingPathSize)) {
        fprintf(stderr, "mosslane: %s %s: path too long\n", option, path);
        return false;
    }
    strcpy(resolved, full);
    return true;
}

bool ApplySettings(const Options& options) {
    char in[SettingPathSize];
    char out[SettingPathSize];
    char extensions[SettingExtensionsSize];
    if (!ResolveFolder("--in", options.inDirectory, in) ||
        !ResolveFolder("--out", options.outDirectory, out)) {
        return false;
    }
    if (strlen(options.extensions) >= sizeof extensions) {
        fprintf(stderr, "mosslane: --text-extensions: list too long\n");
        return false;
    }
    strcpy(extensions, options.extensions);
    NormalizeExtensionList(extensions);
    SetInDirectory(in);
    SetOutDirectory(out);
    SetTranslateText(options.translate);
    SetTextExtensions(extensions);
    return true;
}

void InstallStopHandlers() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Whoever reads the lines may go away; the transfers go on.
    signal(SIGPIPE, SIG_IGN);
}

// Sleeps until the next tick is due; a stop signal ends the sleep at once.
void AwaitTick(uint32_t due) {
    while (!stopRequested) {
        int32_t left = static_cast<int32_t>(due - TickCount());
        if (left <= 0) return;
        // A signal that lands just before the sleep is seen at the tick.
        AwaitMessage(static_cast<uint32_t>(left));
    }
}

void RunPollCycle() {
    uint32_t due = TickCount();
    while (!stopRequested) {
        AwaitTick(due);
        if (stopRequested) break;
        due += TickPeriodMs;
        if (!TransferBusy()) PollTick();
        // After a long transfer the missed ticks are not made up.
        if (static_cast<int32_t>(TickCount() - due) > 0) due = TickCount();
    }
}

}  // namespace

void ShowTransferMode() {
}

void ShowIdleMode() {
    countersPrinted = false;
    lastCountersErrors = 0;
    PrintLine("idle");
}

void ShowMessage(uint16_t id) {
    switch (id) {
    case MessageLowMemory: fprintf(stderr, "Memory is getting low.\n"); break;
    case MessagePortUnavailable: fprintf(stderr, "The serial port is not available.\n"); break;
    case MessageDiskError: fprintf(stderr, "A disk error has occurred.\n"); break;
    default: fprintf(stderr, "Message %u.\n", static_cast<unsigned>(id)); break;
    }
}

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        fputs(kUsage, stdout);
        return ExitOk;
    }
    if (!ParseOptions(argc, argv, &options) || !ApplySettings(options)) {
        fputs(kUsage, stderr);
        return ExitUsage;
    }
    InstallStopHandlers();
    if (!SerialOpenDevice(options.device, options.baudRate, options.handShake)) {
        SerialCloseDevice();
        ShowMessage(MessagePortUnavailable);
        return ExitNoPort;
    }
    SetProgressFunction(ReportProgress);
    PrintLine("ready");
    RunPollCycle();
    SerialCloseDevice();
    return ExitOk;
}
