// What it costs to keep an incoming file safe: each file written as before
// (created under its name, written, closed) against the way it is stored now
// (a partial file, written, flushed, renamed, the folder flushed), with the
// share of each step. Figures per file, on the folder given (a real disk:
// a tmpfs flushes for free).
//   incoming_bench FOLDER [files per size, default 50]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filestore.h"
#include "fs.h"
#include "settings.h"

namespace {
typedef std::chrono::steady_clock Clock;

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

struct Steps {
    double write = 0, flush = 0, rename = 0, folder = 0;
};

std::string Join(const std::string& folder, const std::string& name) {
    return folder + FsSeparator() + name;
}

// The old way: the file under its final name from the first byte.
double Direct(const std::string& folder, int index, const std::vector<uint8_t>& data) {
    std::string path = Join(folder, "direct" + std::to_string(index) + ".bin");
    Clock::time_point start = Clock::now();
    FsCreateNew(path.c_str());
    FsHandle h = FsOpen(path.c_str(), true);
    for (size_t at = 0; at < data.size(); at += 1024)
        FsWrite(h, data.data() + at, static_cast<int>(std::min<size_t>(1024, data.size() - at)));
    FsClose(h);
    return Micros(Clock::now() - start);
}

// Each step of the safe way timed on its own, through the platform layer.
void Safe(const std::string& folder, int index, const std::vector<uint8_t>& data, Steps* steps) {
    std::string partial = Join(folder, "!partial.0");
    std::string final = Join(folder, "safe" + std::to_string(index) + ".bin");
    Clock::time_point t0 = Clock::now();
    FsCreateNew(partial.c_str());
    FsHandle h = FsOpen(partial.c_str(), true);
    for (size_t at = 0; at < data.size(); at += 1024)
        FsWrite(h, data.data() + at, static_cast<int>(std::min<size_t>(1024, data.size() - at)));
    Clock::time_point t1 = Clock::now();
    FsFlush(h);
    FsClose(h);
    Clock::time_point t2 = Clock::now();
    FsRenameNew(partial.c_str(), final.c_str());
    Clock::time_point t3 = Clock::now();
    FsFlushFolder(folder.c_str());
    Clock::time_point t4 = Clock::now();
    steps->write += Micros(t1 - t0);
    steps->flush += Micros(t2 - t1);
    steps->rename += Micros(t3 - t2);
    steps->folder += Micros(t4 - t3);
}

// The file store's own calls, as the receiving side makes them.
double Store(int index, const std::vector<uint8_t>& data) {
    char path[ReceivePathSize];
    snprintf(path, sizeof path, "store%d.bin", index);
    Clock::time_point start = Clock::now();
    if (PrepareIncomingFile(path)) return -1;
    FsHandle h = OpenIncomingFile();
    for (size_t at = 0; at < data.size(); at += 1024)
        WriteIncoming(h, data.data() + at, static_cast<int>(std::min<size_t>(1024, data.size() - at)));
    if (FinishIncomingFile(h, path)) return -1;
    return Micros(Clock::now() - start);
}

void Clear(const std::string& folder) {
    FsDir dir = FsOpenDir(folder.c_str());
    if (dir == nullptr) return;
    FsEntry e;
    std::vector<std::string> names;
    while (FsNextEntry(dir, &e))
        if (!e.isFolder) names.push_back(e.name);
    FsCloseDir(dir);
    for (const std::string& n : names) FsDeleteFile(Join(folder, n).c_str());
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: incoming_bench FOLDER [files per size]\n");
        return 2;
    }
    std::string folder = argv[1];
    int files = argc > 2 ? atoi(argv[2]) : 50;
    if (!FsFolderReachable(folder.c_str()) || files <= 0) {
        fprintf(stderr, "incoming_bench: %s is not a folder\n", folder.c_str());
        return 2;
    }
    SetInDirectory(folder.c_str());
    SetTranslateText(0);
    printf("per file, microseconds, %d files each, in %s\n", files, folder.c_str());
    printf("%10s %10s %10s %10s %10s %10s %10s %10s\n", "size", "before", "now", "added",
           "write", "flush", "rename", "folder");
    for (size_t size : {size_t{0}, size_t{1024}, size_t{100 * 1024}, size_t{1024 * 1024}}) {
        std::vector<uint8_t> data(size, 0x5A);
        double direct = 0, store = 0;
        Steps steps;
        for (int i = 0; i < files; ++i) direct += Direct(folder, i, data);
        Clear(folder);
        for (int i = 0; i < files; ++i) Safe(folder, i, data, &steps);
        Clear(folder);
        for (int i = 0; i < files; ++i) store += Store(i, data);
        Clear(folder);
        printf("%10zu %10.0f %10.0f %10.0f %10.0f %10.0f %10.0f %10.0f\n", size, direct / files,
               store / files, (store - direct) / files, steps.write / files, steps.flush / files,
               steps.rename / files, steps.folder / files);
    }
    // For scale: one 1 KiB block takes about 89 ms on a 115200 bit/s line.
    printf("a 1024-byte block at 115200 bit/s: %.0f microseconds on the line\n", 1029 * 10 * 1e6 / 115200);
    return 0;
}
