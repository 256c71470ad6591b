// Fuzz target: the incoming-name rules. The input is up to eight received
// paths separated by NUL bytes; each is prepared, written and finished as the
// receiving side does. The recorded file system stops the process if anything
// outside the incoming folder is touched; the checks below catch names the
// rules must never produce.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_fs.h"
#include "filestore.h"
#include "settings.h"

namespace {
void Check(bool condition, const char* what, const char* path) {
    if (condition) return;
    fprintf(stderr, "names fuzz: %s: %s\n", what, path);
    abort();
}

// Every component of a created path is a plain, short name that no partial
// file could have.
void CheckCreated(const char* path) {
    size_t length = strnlen(path, ReceivePathSize);
    Check(length > 0 && length < ReceivePathSize, "length", path);
    std::string full = "/box/in";
    for (const char* p = path;;) {
        const char* end = strchr(p, '\\');
        std::string component(p, end != nullptr ? static_cast<size_t>(end - p) : strlen(p));
        Check(!component.empty() && component != "." && component != "..", "component", path);
        Check(component.size() <= MaxComponent, "component length", path);
        Check(component.find('/') == std::string::npos, "separator", path);
        full += "/" + component;
        if (end == nullptr) {
            Check(!IsPartialName(component.c_str()), "partial name", path);
            break;
        }
        p = end + 1;
    }
    Check(fakefs::Content(full) == "x", "not stored where it says", path);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakefs::Reset();
    fakefs::MakeFolder("/box/in");
    fakefs::MakeFolder("/box/out");
    fakefs::PutFile("/box/in/!partial.0", "left by another run");
    fakefs::SetConfinedTo("/box/in");
    SetInDirectory("/box/in");
    SetOutDirectory("/box/out");
    SetTextExtensions(".txt");
    const char* input = reinterpret_cast<const char*>(data);
    size_t at = 0;
    for (int n = 0; n < 8 && at <= size; ++n) {
        const void* nul = memchr(input + at, 0, size - at);
        size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - (input + at)) : size - at;
        char path[ReceivePathSize];
        if (length < sizeof path) {
            memcpy(path, input + at, length);
            path[length] = '\0';
            char shown[DisplayNameSize];
            DisplayName(path, shown);
            IsTextFile(path);
            if (!PrepareIncomingFile(path)) {
                FsHandle file = OpenIncomingFile();
                Check(file != kNoFile, "prepared but cannot be opened", path);
                Check(!WriteIncoming(file, reinterpret_cast<const uint8_t*>("x"), 1), "write", path);
                Check(!FinishIncomingFile(file, path), "finish", path);
                CheckCreated(path);
            }
        }
        at += length + 1;
    }
    DiscardIncomingFile();
    Check(fakefs::Content("/box/in/!partial.0") == "left by another run", "a partial file of another run was touched", "");
    return 0;
}
