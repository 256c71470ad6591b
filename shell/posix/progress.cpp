// Progress: event lines for scripts, a status line redrawn in place for a
// person at a terminal, and the run log.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli.h"
#include "driver.h"
#include "filestore.h"
#include "frontend.h"
#include "message.h"
#include "status.h"
#include "tick.h"

namespace {

enum : uint32_t { CountersGapMs = 250, RedrawGapMs = 200 };
constexpr double MinRateSeconds = 0.5;
enum : int { NameSize = ReceivePathSize * 3, MinNameColumns = 12 };

OutputStyle style = OutputEvents;
WireNames wireNames = WireCp1252;

// The last counters line, so that a busy transfer prints a few per second.
uint32_t lastCountersTick = 0;
int16_t lastCountersErrors = 0;
bool countersPrinted = false;

// The batch and the file under way, for summaries and the log.
struct Current {
    bool opened;
    bool finished;
    uint16_t direction;
    uint32_t batchStart;
    int16_t files;
    bool fileOpen;           // started and not yet counted as done
    char name[NameSize];     // as shown: '/' between folders
    int32_t size;
    uint32_t fileStart;
    uint32_t lastRedraw;
    bool statusShown;
} current;

FILE* runLog = nullptr;
char runLogPath[SettingTextSize];

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

// For people and the log: folders separated by '/'.
void ShownName(const char* name, char* out, size_t size) {
    PrintableName(name, out, size);
    for (char* p = out; *p; ++p) {
        if (*p == '\\') *p = '/';
    }
}

void FormatBytes(double bytes, char* out, size_t size) {
    const char* units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 3) {
        bytes /= 1024;
        ++unit;
    }
    if (unit == 0) snprintf(out, size, "%.0f B", bytes);
    else snprintf(out, size, "%.1f %s", bytes, units[unit]);
}

void FormatDuration(double seconds, char* out, size_t size) {
    long s = static_cast<long>(seconds + 0.5);
    if (s >= 3600) snprintf(out, size, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else snprintf(out, size, "%ld:%02ld", s / 60, s % 60);
}

double SecondsSince(uint32_t tick) {
    return static_cast<double>(TickCount() - tick) / 1000.0;
}

int TerminalWidth() {
    winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
    return 80;
}

void ClearStatus() {
    if (style != OutputTerminal || !current.statusShown) return;
    fputs("\r\033[K", stdout);
    fflush(stdout);
    current.statusShown = false;
}

// Terminal columns of the UTF-8 character starting with lead: two for the
// wide East Asian ranges (U+3000 to U+DFFF, and beyond U+FFFF), else one.
int Columns(unsigned char lead) {
    if ((lead & 0xC0) == 0x80) return 0;
    return (lead >= 0xE3 && lead <= 0xED) || lead >= 0xF0 ? 2 : 1;
}

int TextColumns(const char* text) {
    int n = 0;
    for (const char* p = text; *p; ++p) n += Columns(static_cast<unsigned char>(*p));
    return n;
}

// Cuts a UTF-8 text to at most columns, keeping its end.
void FitName(const char* name, int columns, char* out, size_t size) {
    const char* start = name;
    if (TextColumns(name) > columns && columns > 3) {
        while (*start && TextColumns(start) > columns - 3) {
            ++start;
            while ((static_cast<unsigned char>(*start) & 0xC0) == 0x80) ++start;
        }
        size_t n = strlen(start);
        if (n + 4 > size) n = size - 4;
        memcpy(out, "...", 3);
        memcpy(out + 3, start, n);
        out[3 + n] = '\0';
    } else {
        snprintf(out, size, "%s", name);
    }
}

// Cuts a UTF-8 text in place to at most columns, keeping its start.
void CutToColumns(char* text, int columns) {
    int used = 0;
    for (char* p = text; *p; ++p) {
        used += Columns(static_cast<unsigned char>(*p));
        if (used > columns) {
            *p = '\0';
            return;
        }
    }
}

void DrawStatus(const TransferStatus* status, const char* state) {
    char done[32], size[32], rate[32], left[32], total[32];
    double fileBytes = static_cast<double>(status->fileSize - status->bytesLeft);
    double batchSeconds = SecondsSince(current.batchStart);
    double fileSeconds = SecondsSince(current.fileStart);
    double perSecond = fileSeconds >= 1 ? fileBytes / fileSeconds
                       : batchSeconds >= 1 ? status->totalBytes / batchSeconds : 0;
    FormatBytes(fileBytes, done, sizeof done);
    FormatBytes(status->fileSize, size, sizeof size);
    FormatBytes(perSecond, rate, sizeof rate);
    FormatBytes(status->totalBytes, total, sizeof total);
    if (perSecond > 0) FormatDuration(status->bytesLeft / perSecond, left, sizeof left);
    else snprintf(left, sizeof left, "-:--");
    int percent = status->fileSize > 0 ? static_cast<int>(100.0 * fileBytes / status->fileSize) : 100;
    // The name keeps some room on a narrow terminal; what does not fit is cut
    // from the end, so the line never wraps and \r redraws it in place.
    char counters[256];
    snprintf(counters, sizeof counters, "  %3d%%  %s of %s  %s/s  %s left  errors %d  files %d  total %s",
             percent, done, size, rate, left, status->errors, status->files, total);
    const int width = TerminalWidth() - 1;
    int room = width - TextColumns(state) - 1 - TextColumns(counters);
    char name[NameSize];
    if (current.fileOpen) FitName(current.name, room > MinNameColumns ? room : MinNameColumns, name, sizeof name);
    else name[0] = '\0';
    char line[NameSize + 512];
    snprintf(line, sizeof line, "%s %s%s", state, name, current.fileOpen ? counters : "");
    CutToColumns(line, width);
    fprintf(stdout, "\r\033[K%s", line);
    fflush(stdout);
    current.statusShown = true;
    current.lastRedraw = TickCount();
}

void TimeStamp(char* out, size_t size) {
    time_t now = time(nullptr);
    tm utc;
    gmtime_r(&now, &utc);
    strftime(out, size, "%Y-%m-%dT%H:%M:%SZ", &utc);
}

const char* DirectionWord() {
    return current.direction == DirectionReceiving ? "received" : "sent";
}

// The file under way is done when the batch's file count has grown.
void NoteFileDone(const TransferStatus* status) {
    if (!current.fileOpen || status->files <= current.files) return;
    current.files = status->files;
    current.fileOpen = false;
    LogLine("%s %s %ld ok", DirectionWord(), current.name, static_cast<long>(current.size));
    if (style != OutputTerminal) return;
    char size[32], rate[32], took[32];
    double seconds = SecondsSince(current.fileStart);
    FormatBytes(current.size, size, sizeof size);
    FormatDuration(seconds, took, sizeof took);
    ClearStatus();
    // A rate over a few milliseconds says nothing.
    if (seconds < MinRateSeconds) {
        PrintLine("%-8s %s  %s in %s", DirectionWord(), current.name, size, took);
        return;
    }
    FormatBytes(current.size / seconds, rate, sizeof rate);
    PrintLine("%-8s %s  %s in %s (%s/s)", DirectionWord(), current.name, size, took, rate);
}

// A sent name that has no form on the wire is said so before it goes.
void NoteRenamed(const TransferStatus* status) {
    if (status->direction != DirectionSending || status->currentName == nullptr) return;
    char wire[ReceivePathSize];
    char shown[NameSize];
    bool lossy = false;
    if (!LocalToWire(wireNames, status->currentName, wire, sizeof wire, &lossy) || !lossy) return;
    WireToLocal(wireNames, wire, shown, sizeof shown);
    char from[NameSize], to[NameSize];
    if (style == OutputEvents) {
        PrintableName(status->currentName, from, sizeof from);
        PrintableName(shown, to, sizeof to);
        PrintLine("renamed %s as %s", from, to);
    } else {
        ShownName(status->currentName, from, sizeof from);
        ShownName(shown, to, sizeof to);
        Note("%s travels as %s (no code page 1252 form)", from, to);
    }
}

void OnFileStarted(const TransferStatus* status) {
    NoteFileDone(status);
    NoteRenamed(status);
    current.fileOpen = true;
    current.files = status->files;
    current.size = status->fileSize;
    current.fileStart = TickCount();
    ShownName(status->currentName, current.name, sizeof current.name);
    if (style == OutputEvents) {
        char name[ReceivePathSize];
        PrintableName(status->currentName, name, sizeof name);
        PrintLine("%s %s size %ld", status->direction == DirectionReceiving ? "receiving" : "sending",
                  name, static_cast<long>(status->fileSize));
    } else if (style == OutputTerminal) {
        DrawStatus(status, status->direction == DirectionReceiving ? "Receiving" : "Sending");
    }
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

void OnCounters(const TransferStatus* status) {
    NoteFileDone(status);
    if (style == OutputEvents) {
        PrintCounters(status);
    } else if (style == OutputTerminal && TickCount() - current.lastRedraw >= RedrawGapMs) {
        const char* state = !current.fileOpen && status->files == 0 ? "Handshaking..."
                            : status->direction == DirectionReceiving ? "Receiving" : "Sending";
        DrawStatus(status, state);
    }
}

void OnBatchFinished(const TransferStatus* status) {
    NoteFileDone(status);
    current.finished = true;
    LogLine("batch %s files %d bytes %ld finished", DirectionWord(), status->files,
            static_cast<long>(status->totalBytes));
    if (style == OutputEvents) {
        PrintLine("finished files %d total %ld", status->files, static_cast<long>(status->totalBytes));
    } else if (style == OutputTerminal) {
        char total[32], took[32], rate[32];
        double seconds = SecondsSince(current.batchStart);
        FormatBytes(status->totalBytes, total, sizeof total);
        FormatDuration(seconds, took, sizeof took);
        ClearStatus();
        if (seconds < MinRateSeconds) {
            PrintLine("Finished: %d file%s, %s in %s", status->files, status->files == 1 ? "" : "s",
                      total, took);
            return;
        }
        FormatBytes(status->totalBytes / seconds, rate, sizeof rate);
        PrintLine("Finished: %d file%s, %s in %s (%s/s)", status->files, status->files == 1 ? "" : "s",
                  total, took, rate);
    }
}

void OnOpening(const TransferStatus* status) {
    ClearCancel();
    current = Current{};
    current.opened = true;
    current.direction = status->direction;
    current.batchStart = TickCount();
    current.fileStart = current.batchStart;
    if (style == OutputEvents) PrintLine("opening");
    else if (style == OutputTerminal) DrawStatus(status, "Handshaking...");
}

}  // namespace

void StartProgress(OutputStyle chosen, WireNames names) {
    style = chosen;
    wireNames = names;
}

uint16_t ReportProgress(TransferStatus* status, int16_t event) {
    if (reopenLogRequested) ReopenRunLog();
    switch (event) {
    case Counters: OnCounters(status); break;
    case FileStarted: OnFileStarted(status); break;
    case BatchFinished: OnBatchFinished(status); break;
    case TransferOpening: OnOpening(status); break;
    default: break;
    }
    // A stop signal cancels the transfer as the Cancel button would.
    if (stopRequested) RequestCancel();
    return CancelRequested() ? 1 : 0;
}

BatchOutcome LastBatch() {
    return BatchOutcome{current.opened, current.finished, current.files};
}

void ResetBatchOutcome() {
    current = Current{};
}

void ShowTransferMode() {
}

void ShowIdleMode() {
    countersPrinted = false;
    lastCountersErrors = 0;
    if (current.opened && !current.finished) {
        if (current.fileOpen) {
            LogLine("%s %s %ld failed", DirectionWord(), current.name, static_cast<long>(current.size));
        }
        LogLine("batch %s files %d failed", DirectionWord(), current.files);
    }
    if (style == OutputEvents) {
        PrintLine("idle");
    } else if (style == OutputTerminal) {
        ClearStatus();
        if (current.opened && !current.finished) {
            PrintLine("The batch did not finish: %d file%s %s%s%s.", current.files,
                      current.files == 1 ? "" : "s", DirectionWord(),
                      current.fileOpen ? ", stopped in " : "", current.fileOpen ? current.name : "");
        }
    }
}

void Note(const char* format, ...) {
    ClearStatus();
    va_list args;
    va_start(args, format);
    FILE* to = style == OutputTerminal ? stdout : stderr;
    if (style == OutputQuiet) to = stderr;
    vfprintf(to, format, args);
    va_end(args);
    fputc('\n', to);
    fflush(to);
}

void ShowMessage(uint16_t id) {
    ClearStatus();
    switch (id) {
    case MessageLowMemory: fprintf(stderr, "Memory is getting low.\n"); break;
    case MessagePortUnavailable: fprintf(stderr, "The serial port is not available.\n"); break;
    case MessageDiskError: fprintf(stderr, "A disk error has occurred.\n"); break;
    default: fprintf(stderr, "Message %u.\n", static_cast<unsigned>(id)); break;
    }
}

bool OpenRunLog(const char* path) {
    snprintf(runLogPath, sizeof runLogPath, "%s", path);
    runLog = fopen(runLogPath, "a");
    if (runLog == nullptr) {
        fprintf(stderr, "mosslane: cannot open the log %s: %s\n", path, strerror(errno));
        return false;
    }
    setvbuf(runLog, nullptr, _IOLBF, 0);
    return true;
}

// After SIGHUP: a rotated log is let go and the named file opened anew.
void ReopenRunLog() {
    reopenLogRequested = 0;
    if (runLog == nullptr) return;
    fclose(runLog);
    runLog = fopen(runLogPath, "a");
    if (runLog) setvbuf(runLog, nullptr, _IOLBF, 0);
}

void CloseRunLog() {
    if (runLog) fclose(runLog);
    runLog = nullptr;
}

void LogLine(const char* format, ...) {
    if (runLog == nullptr) return;
    char stamp[32];
    TimeStamp(stamp, sizeof stamp);
    fprintf(runLog, "%s ", stamp);
    va_list args;
    va_start(args, format);
    vfprintf(runLog, format, args);
    va_end(args);
    fputc('\n', runLog);
    fflush(runLog);
}
