// POSIX file system for the file store. Nothing here follows a symbolic link
// below a base folder: lstat for folders, O_NOFOLLOW for files.
#include "fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
struct PosixDir {
    DIR* dir;
    char path[2048];
};

void ToFsTime(time_t t, FsTime* out) {
    struct tm tm;
    if (gmtime_r(&t, &tm) == nullptr) {
        memset(&tm, 0, sizeof tm);
    }
    out->year = tm.tm_year + 1900;
    out->month = tm.tm_mon + 1;
    out->day = tm.tm_mday;
    out->hour = tm.tm_hour;
    out->minute = tm.tm_min;
    out->second = tm.tm_sec;
}

// Kind of a directory entry without following it: 'd' folder, 'f' regular
// file, 0 anything else.
char EntryKind(const PosixDir* d, const struct dirent* e) {
    if (e->d_type == DT_DIR) return 'd';
    if (e->d_type == DT_REG) return 'f';
    if (e->d_type != DT_UNKNOWN) return 0;
    char full[sizeof d->path + 260];
    snprintf(full, sizeof full, "%s/%s", d->path, e->d_name);
    struct stat st;
    if (lstat(full, &st) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return 'd';
    return S_ISREG(st.st_mode) ? 'f' : 0;
}

bool IsDotName(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}
}  // namespace

char FsSeparator() { return '/'; }

bool FsReservedName(const char*) { return false; }

FsResult FsMakeFolder(const char* path) {
    if (mkdir(path, 0777) == 0) return FsOk;
    return errno == EEXIST ? FsExists : FsFailed;
}

bool FsIsFolder(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool FsFolderReachable(const char* path) {
    struct stat st;
    return path[0] != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

FsResult FsCreateNew(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? FsExists : FsFailed;
    close(fd);
    return FsOk;
}

FsHandle FsOpen(const char* path, bool forWrite) {
    // O_NONBLOCK so that a pipe put in the file's place cannot hang the open.
    int flags = (forWrite ? O_WRONLY : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path, flags);
    if (fd < 0) return kNoFile;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return kNoFile;
    }
    int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

int FsRead(FsHandle file, void* buffer, int count) {
    int done = 0;
    while (done < count) {
        ssize_t n = read(static_cast<int>(file), static_cast<char*>(buffer) + done,
                         static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<int>(n);
    }
    return done;
}

int FsWrite(FsHandle file, const void* data, int count) {
    int done = 0;
    while (done < count) {
        ssize_t n = write(static_cast<int>(file), static_cast<const char*>(data) + done,
                          static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    return done;
}

int64_t FsSize(FsHandle file) {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

void FsClose(FsHandle file) { close(static_cast<int>(file)); }

bool FsFlush(FsHandle file) {
    while (fsync(static_cast<int>(file)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool FsDeleteFile(const char* path) { return unlink(path) == 0; }

bool FsMoveFile(const char* from, const char* to) { return rename(from, to) == 0; }

FsResult FsRenameNew(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return FsOk;
    if (errno == EEXIST) return FsExists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return FsFailed;
#endif
    // A file system without the flag: a second name, then the first goes.
    if (link(from, to) == 0) {
        unlink(from);
        return FsOk;
    }
    if (errno == EEXIST) return FsExists;
    if (errno != EPERM && errno != ENOTSUP) return FsFailed;
    // No hard links either (FAT): look first, only this program writes here.
    struct stat st;
    if (lstat(to, &st) == 0) return FsExists;
    return rename(from, to) == 0 ? FsOk : FsFailed;
}

bool FsFlushFolder(const char* path) {
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool flushed = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot
    close(fd);
    return flushed;
}

bool FsRemoveFolder(const char* path) { return rmdir(path) == 0; }

FsDir FsOpenDir(const char* path) {
    PosixDir* d = static_cast<PosixDir*>(malloc(sizeof(PosixDir)));
    if (d == nullptr) return nullptr;
    size_t n = strlen(path);
    d->dir = n < sizeof d->path ? opendir(path) : nullptr;
    if (d->dir == nullptr) {
        free(d);
        return nullptr;
    }
    memcpy(d->path, path, n + 1);
    return d;
}

bool FsNextEntry(FsDir dir, FsEntry* entry) {
    PosixDir* d = static_cast<PosixDir*>(dir);
    for (;;) {
        struct dirent* e = readdir(d->dir);
        if (e == nullptr) return false;
        if (IsDotName(e->d_name)) continue;
        char kind = EntryKind(d, e);
        size_t n = strlen(e->d_name);
        if (kind == 0 || n >= sizeof entry->name) continue;
        memcpy(entry->name, e->d_name, n + 1);
        entry->isFolder = kind == 'd';
        return true;
    }
}

void FsCloseDir(FsDir dir) {
    PosixDir* d = static_cast<PosixDir*>(dir);
    closedir(d->dir);
    free(d);
}

bool FsLastWriteTime(const char* path, FsTime* time) {
    struct stat st;
    if (lstat(path, &st) != 0) return false;
    ToFsTime(st.st_mtime, time);
    return true;
}

void FsNowUtc(FsTime* time) { ToFsTime(::time(nullptr), time); }

bool FsStampOf(const char* path, FsStamp* stamp) {
    struct stat st;
    if (lstat(path, &st) != 0) return false;
    stamp->size = static_cast<int64_t>(st.st_size);
    stamp->modifiedMs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    stamp->identity = (static_cast<uint64_t>(st.st_dev) << 40) ^ static_cast<uint64_t>(st.st_ino);
    return true;
}

int64_t FsNowMs() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
