#include "store_os.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace storeos {
std::string MakeTempRoot() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                          "/mosslane-store-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) abort();
    return pattern;
}

static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;  // keep going: remove what can be removed
}

void RemoveTree(const std::string& path) {
    nftw(path.c_str(), RemoveOne, 64, FTW_DEPTH | FTW_PHYS);
}

bool SetAge(const std::string& path, int secondsAgo) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct timeval times[2] = {now, now};
    times[1].tv_sec -= secondsAgo;
    return lutimes(path.c_str(), times) == 0;
}

bool SetFileLength(const std::string& path, int64_t length) {
    return truncate(path.c_str(), static_cast<off_t>(length)) == 0;
}

bool MakeSymlink(const std::string& target, const std::string& link) {
    return symlink(target.c_str(), link.c_str()) == 0;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}
}  // namespace storeos
