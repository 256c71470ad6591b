// Prints one card through the library as a host would, and tells the result.
// Usage: tally_print CARD SETUP [--device ENTRY] [HELPER ARGS...]
// --device prints with that WIN.INI "device" entry, restored afterwards.
// A helper program, when given, is started first (it answers a dialog) and
// waited for afterwards; its exit code is printed too.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "helper_ready.h"
#include "tally_loader.h"

namespace {

bool StartHelper(int first, int argc, char **argv, PROCESS_INFORMATION *process)
{
    std::string command;
    for (int i = first; i < argc; ++i) command += std::string(i > first ? " \"" : "\"") + argv[i] + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) return 2;
    TallyLib lib;
    if (!TallyLoad(&lib)) {
        std::printf("cannot load tallylib.dll\n");
        return 2;
    }
    int next = 3;
    char saved[100] = "";
    bool device = argc > next + 1 && std::string(argv[next]) == "--device";
    if (device) {
        GetProfileStringA("windows", "device", "", saved, sizeof saved);
        WriteProfileStringA("windows", "device", argv[next + 1]);
        next += 2;
    }
    PROCESS_INFORMATION helper = {};
    bool helped = argc > next;
    // The helper says when it is running: a busy machine can take longer to
    // start a process than the library takes to print.
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kHelperReadyEvent);
    if (helped && !StartHelper(next, argc, argv, &helper)) {
        std::printf("cannot start the helper\n");
        return 2;
    }
    if (helped && ready) WaitForSingleObject(ready, 30000);
    long result = lib.Print(argv[1], std::atol(argv[2]));
    if (device) WriteProfileStringA("windows", "device", saved);
    std::printf("result %ld\n", result);
    if (helped) {
        DWORD code = 99;
        if (WaitForSingleObject(helper.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(helper.hProcess, &code);
        std::printf("helper %lu\n", code);
    }
    std::fflush(stdout);
    return 0;
}
