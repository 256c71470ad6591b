// Prints what one scan of an outgoing folder costs: time, the list's memory,
// and the process's peak memory. Usage: scan_bench FOLDER
#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include "filestore.h"
#include "message.h"
#include "settings.h"

void ShowMessage(uint16_t id) {
    fprintf(stderr, "message %u\n", static_cast<unsigned>(id));
}

namespace {
double Seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long PeakKib() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: scan_bench FOLDER\n");
        return 2;
    }
    SetOutDirectory(argv[1]);
    const long peakBefore = PeakKib();
    const size_t heapBefore = mallinfo2().uordblks;
    const double start = Seconds();
    char** list = ScanOutgoing();
    const double scanned = Seconds();
    const size_t heapHeld = mallinfo2().uordblks - heapBefore;
    long files = 0;
    for (char** entry = list; entry != nullptr && *entry != nullptr; ++entry) ++files;
    ReleaseFileList(list, false);
    printf("scan of %ld files: %.1f ms, list holds %.0f KiB, peak memory %ld KiB (%+ld KiB)\n",
           files, (scanned - start) * 1000, static_cast<double>(heapHeld) / 1024, PeakKib(),
           PeakKib() - peakBefore);
    return 0;
}
