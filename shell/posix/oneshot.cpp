// One batch and out: `send` offers copies of the given paths, `receive` takes
// what the peer offers. The user's originals are never touched: the engine
// sends from a private staging folder, which it empties as files arrive.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "driver.h"
#include "pump.h"
#include "serial.h"
#include "settings.h"
#include "tick.h"

namespace {

enum : uint32_t { ReceivePollMs = 100 };
enum : long { DefaultSendTimeoutS = 60 };

bool CopyContents(const char* from, const char* to) {
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < got;) {
            ssize_t wrote = write(out, buffer + done, static_cast<size_t>(got - done));
            if (wrote < 0 && errno != EINTR) ok = false;
            if (wrote > 0) done += wrote;
        }
    }
    close(in);
    if (out >= 0 && close(out) != 0) ok = false;
    return ok;
}

// A hard link where the file system allows it, else a copy.
bool StageFile(const char* from, const char* to) {
    if (link(from, to) == 0) return true;
    return CopyContents(from, to);
}

// Copies a folder tree; links and special files inside it are left out, as
// the outgoing scan would leave them out. Counts the files staged.
bool StageTree(const char* from, const char* to, int* files) {
    struct stat info;
    if (stat(from, &info) != 0) {
        fprintf(stderr, "mosslane: %s: %s\n", from, strerror(errno));
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        if (!StageFile(from, to)) {
            fprintf(stderr, "mosslane: %s: cannot be read (%s)\n", from, strerror(errno));
            return false;
        }
        ++*files;
        return true;
    }
    if (!S_ISDIR(info.st_mode)) {
        fprintf(stderr, "mosslane: %s: not a file or folder\n", from);
        return false;
    }
    if (mkdir(to, 0700) != 0) return false;
    DIR* dir = opendir(from);
    if (dir == nullptr) {
        fprintf(stderr, "mosslane: %s: %s\n", from, strerror(errno));
        return false;
    }
    bool ok = true;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        char source[PATH_MAX], target[PATH_MAX];
        if (snprintf(source, sizeof source, "%s/%s", from, entry->d_name) >= PATH_MAX ||
            snprintf(target, sizeof target, "%s/%s", to, entry->d_name) >= PATH_MAX) {
            fprintf(stderr, "mosslane: %s/%s: path too long\n", from, entry->d_name);
            ok = false;
            break;
        }
        struct stat inner;
        if (lstat(source, &inner) != 0) continue;
        if (S_ISLNK(inner.st_mode) || !(S_ISREG(inner.st_mode) || S_ISDIR(inner.st_mode))) {
            Note("skipped %s (not a regular file or folder)", source);
            continue;
        }
        if (!StageTree(source, target, files)) {
            ok = false;
            break;
        }
    }
    closedir(dir);
    return ok;
}

void RemoveTree(const char* path) {
    struct stat info;
    if (lstat(path, &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        if (DIR* dir = opendir(path)) {
            while (dirent* entry = readdir(dir)) {
                if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
                char inner[PATH_MAX];
                if (snprintf(inner, sizeof inner, "%s/%s", path, entry->d_name) < PATH_MAX)
                    RemoveTree(inner);
            }
            closedir(dir);
        }
        rmdir(path);
    } else {
        unlink(path);
    }
}

// The last component of a path as given, "docs/" and "docs" alike.
bool BaseName(const char* path, char* out, size_t size) {
    char full[PATH_MAX];
    if (realpath(path, full) == nullptr) {
        fprintf(stderr, "mosslane: %s: %s\n", path, strerror(errno));
        return false;
    }
    const char* slash = strrchr(full, '/');
    const char* name = slash ? slash + 1 : full;
    if (*name == '\0') {
        fprintf(stderr, "mosslane: %s: cannot send the root folder\n", path);
        return false;
    }
    snprintf(out, size, "%s", name);
    return true;
}

int StageAll(const Invocation& invocation, const char* staging, int* files) {
    for (int i = 0; i < invocation.pathCount; ++i) {
        char name[PATH_MAX];
        if (!BaseName(invocation.paths[i], name, sizeof name)) return ExitLocalFiles;
        char target[PATH_MAX];
        if (snprintf(target, sizeof target, "%s/%s", staging, name) >= static_cast<int>(sizeof target))
            return ExitLocalFiles;
        if (access(target, F_OK) == 0) {
            fprintf(stderr, "mosslane: %s: a second path with the name %s\n", invocation.paths[i], name);
            return ExitUsage;
        }
        if (!StageTree(invocation.paths[i], target, files)) return ExitLocalFiles;
    }
    return ExitOk;
}

// Files still in the staging folder did not arrive; "!unsent" holds those of
// a batch that started.
int ListLeftovers(const char* folder, const char* relative) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return 0;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        char path[PATH_MAX], rel[PATH_MAX];
        snprintf(path, sizeof path, "%s/%s", folder, entry->d_name);
        bool unsent = relative[0] == '\0' && strcmp(entry->d_name, "!unsent") == 0;
        if (unsent) rel[0] = '\0';
        else snprintf(rel, sizeof rel, "%s%s%s", relative, relative[0] ? "/" : "", entry->d_name);
        struct stat info;
        if (lstat(path, &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            count += ListLeftovers(path, rel);
        } else {
            Note("not sent: %s", rel);
            LogLine("sent %s %ld not-sent", rel, static_cast<long>(info.st_size));
            ++count;
        }
    }
    closedir(dir);
    return count;
}

bool DeadlinePassed(uint32_t start, long seconds) {
    return seconds >= 0 && TickCount() - start >= static_cast<uint32_t>(seconds) * 1000u;
}

}  // namespace

// A stop signal ends the sleep at once; one that lands just before it is seen
// when the sleep ends.
void SleepUnlessStopped(uint32_t ms) {
    const uint32_t start = TickCount();
    while (!stopRequested && TickCount() - start < ms) AwaitMessage(ms - (TickCount() - start));
}

int RunSend(const Invocation& invocation) {
    const char* tmp = getenv("TMPDIR");
    char staging[SettingPathSize];
    if (snprintf(staging, sizeof staging, "%s/mosslane-send.XXXXXX", tmp && *tmp ? tmp : "/tmp") >=
            static_cast<int>(sizeof staging) || mkdtemp(staging) == nullptr) {
        fprintf(stderr, "mosslane: no staging folder in %s\n", tmp && *tmp ? tmp : "/tmp");
        return ExitLocalFiles;
    }
    int files = 0;
    int code = StageAll(invocation, staging, &files);
    if (code != ExitOk) {
        RemoveTree(staging);
        return code;
    }
    if (files == 0) {
        Note("nothing to send: no files under the paths given");
        RemoveTree(staging);
        return ExitOk;
    }
    SetOutDirectory(staging);
    const long timeout = invocation.timeoutSeconds >= 0 ? invocation.timeoutSeconds : DefaultSendTimeoutS;
    const uint32_t start = TickCount();
    srand(static_cast<unsigned>(getpid() ^ TickCount()));
    PurgeSerialInput();
    ResetBatchOutcome();
    while (!stopRequested) {
        TrySend();
        if (LastBatch().opened || DeadlinePassed(start, timeout)) break;
        // Apart from the peer's own 10-second rhythm, should both ask at once.
        SleepUnlessStopped(500 + static_cast<uint32_t>(rand() % 1500));
    }
    BatchOutcome outcome = LastBatch();
    int left = ListLeftovers(staging, "");
    RemoveTree(staging);
    if (!outcome.opened) {
        if (!stopRequested) Note("the peer did not answer within %ld s", timeout);
        return stopRequested ? ExitIncomplete : ExitNoPeer;
    }
    return outcome.finished && left == 0 ? ExitOk : ExitIncomplete;
}

int RunReceive(const Invocation& invocation) {
    // A link request that came before this command started is not for it.
    PurgeSerialInput();
    const uint32_t start = TickCount();
    ResetBatchOutcome();
    while (!stopRequested) {
        if (TryReceive()) break;
        if (DeadlinePassed(start, invocation.timeoutSeconds)) break;
        SleepUnlessStopped(ReceivePollMs);
    }
    BatchOutcome outcome = LastBatch();
    if (!outcome.opened) {
        if (!stopRequested) Note("no batch came within %ld s", invocation.timeoutSeconds);
        return ExitNoPeer;
    }
    return outcome.finished ? ExitOk : ExitIncomplete;
}
