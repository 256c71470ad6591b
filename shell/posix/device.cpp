// Why a serial device could not be opened, in words a user can act on.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <initializer_list>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace {

void GroupOf(const char* device, char* out, size_t size) {
    struct stat info;
    group* g = stat(device, &info) == 0 ? getgrgid(info.st_gid) : nullptr;
    snprintf(out, size, "%s", g ? g->gr_name : "dialout");
}

ExitCode Explain(ExitCode code, const char* device, const char* why) {
    fprintf(stderr, "The serial port is not available.\nmosslane: %s: %s\n", device, why);
    return code;
}

// The program named by a process id, from /proc.
void ProgramName(long pid, char* out, size_t size) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/comm", pid);
    out[0] = '\0';
    if (FILE* f = fopen(path, "r")) {
        if (fgets(out, static_cast<int>(size), f) == nullptr) out[0] = '\0';
        fclose(f);
    }
    out[strcspn(out, "\n")] = '\0';
}

}  // namespace

bool HeldByLockFile(const char* device, char* holder, size_t size) {
    char full[PATH_MAX];
    if (realpath(device, full) == nullptr) return false;
    const char* slash = strrchr(full, '/');
    const char* name = slash ? slash + 1 : full;
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        char lock[PATH_MAX + 32];
        snprintf(lock, sizeof lock, "%s/LCK..%s", folder, name);
        FILE* f = fopen(lock, "r");
        if (f == nullptr) continue;
        long pid = 0;
        bool read = fscanf(f, "%ld", &pid) == 1;
        fclose(f);
        // A lock whose owner has gone is stale and ignored.
        if (!read || pid <= 0 || pid == static_cast<long>(getpid()) ||
            (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) {
            continue;
        }
        char program[64];
        ProgramName(pid, program, sizeof program);
        snprintf(holder, size, "%s, process %ld, lock file %s", program[0] ? program : "a program", pid, lock);
        return true;
    }
    return false;
}

ExitCode ExplainLockedDevice(const char* device, const char* holder) {
    char why[PATH_MAX + 200];
    snprintf(why, sizeof why, "busy: another program holds it (%s)", holder);
    return Explain(ExitDeviceBusy, device, why);
}

ExitCode ExplainDeviceFailure(const char* device) {
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        char why[256];
        switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return Explain(ExitNoDevice, device,
                           "no such device (is the adapter plugged in? see ls /dev/serial/by-id)");
        case EACCES:
        case EPERM: {
            char group[64];
            GroupOf(device, group, sizeof group);
            snprintf(why, sizeof why,
                     "permission denied: join the group \"%s\" (sudo usermod -aG %s $USER, "
                     "then log in again)", group, group);
            return Explain(ExitNoPermission, device, why);
        }
        case EBUSY:
            return Explain(ExitDeviceBusy, device, "busy: another program holds it");
        default:
            return Explain(ExitNoPort, device, strerror(error));
        }
    }
    ExitCode code = ExitNoPort;
    const char* why = "not a serial device";
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        code = ExitDeviceBusy;
        why = "busy: another program holds it";
    } else if (isatty(fd)) {
        why = "the device refused the line settings";
    }
    close(fd);
    return Explain(code, device, why);
}
