// The Linux front end's pieces: settings from file and command line, progress
// on a terminal or as event lines, the log, device checks, one-shot commands.
#pragma once
#include <csignal>
#include <cstddef>
#include <cstdint>

#include "wire_names.h"

enum ExitCode : int {
    ExitOk = 0,
    ExitNoPort = 1,        // the device opened but refused to work as a serial line
    ExitUsage = 2,         // bad arguments or settings
    ExitIncomplete = 3,    // a batch started but did not finish
    ExitNoPeer = 4,        // the peer never answered, or no batch came in time
    ExitNoDevice = 5,
    ExitDeviceBusy = 6,
    ExitNoPermission = 7,
    ExitLocalFiles = 8,    // a path to send cannot be read, or no staging folder
};

enum Command { CommandPoll, CommandSend, CommandReceive };

enum : int { MaxSendPaths = 256, SettingTextSize = 1024 };

enum Source { FromDefault, FromFile, FromOption };

struct Setting {
    const char* key;        // as in the settings file; the option is --key
    char value[SettingTextSize];
    Source source;
    int line;               // in the settings file
};

// Every setting by its index in Settings::all.
enum SettingId {
    SetIn, SetOut, SetDevice, SetBaud, SetHandshake, SetTranslate, SetLineEnds,
    SetExtensions, SetWireNames, SetLog, SettingCount,
};

struct Settings {
    Setting all[SettingCount];
    char file[SettingTextSize];  // the settings file read, or empty
    bool fileExists;
};

struct Invocation {
    Command command = CommandPoll;
    const char* paths[MaxSendPaths];
    int pathCount = 0;
    long timeoutSeconds = -1;   // -1: the command's default
    bool quiet = false;
    bool showSettings = false;
    bool help = false;
    bool version = false;
};

// The effective settings after the parse, in typed form.
struct LineSetup {
    uint32_t baudRate;
    uint8_t handShake;
    uint8_t translate;   // TranslateOff, TranslateCrLf or TranslateLf
    WireNames wireNames;
};

extern const char kUsage[];
extern const char kVersion[];

// Defaults, then the settings file, then the command line. Prints the reason
// (with file and line for a bad entry) and returns false on a bad one.
bool LoadInvocation(int argc, char** argv, Settings* settings, Invocation* invocation);
void PrintSettings(const Settings& settings);
// Typed values; the texts were checked when they were read.
LineSetup LineSetupOf(const Settings& settings);

// Progress output and the log.
enum OutputStyle { OutputEvents, OutputTerminal, OutputQuiet };
void StartProgress(OutputStyle style, WireNames wireNames);
uint16_t ReportProgress(struct TransferStatus* status, int16_t event);
bool OpenRunLog(const char* path);   // false, with a message, when it cannot be opened
void ReopenRunLog();
void CloseRunLog();
void LogLine(const char* format, ...);
// Prints a line for the user: above the status line on a terminal, to stderr otherwise.
void Note(const char* format, ...);

// What the last batch did.
struct BatchOutcome {
    bool opened;
    bool finished;
    int files;
};
BatchOutcome LastBatch();
void ResetBatchOutcome();

// Device checks after a failed open: the exit code and a message on stderr.
ExitCode ExplainDeviceFailure(const char* device);
// A terminal program that keeps a lock file in /run/lock (/var/lock) holds the
// device, though the device itself would open; holder tells which.
bool HeldByLockFile(const char* device, char* holder, size_t size);
ExitCode ExplainLockedDevice(const char* device, const char* holder);

// One-shot commands on an open line.
int RunSend(const Invocation& invocation);
int RunReceive(const Invocation& invocation);

extern volatile sig_atomic_t stopRequested;
extern volatile sig_atomic_t reopenLogRequested;
// Sleeps up to ms, returning early for a stop request.
void SleepUnlessStopped(uint32_t ms);
