// Why a serial device could not be opened, in words a user can act on.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
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

}  // namespace

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
