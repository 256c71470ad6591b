#include "wire_path.h"

#include <cstring>

namespace {
PathConvertFn toWire = nullptr;
PathConvertFn toLocal = nullptr;

bool Unchanged(const char* in, char* out, size_t size) {
    if (size == 0) return false;
    size_t n = strnlen(in, size);
    if (n >= size) {
        out[0] = '\0';
        return false;
    }
    memcpy(out, in, n + 1);
    return true;
}
}  // namespace

void SetWirePathFunctions(PathConvertFn localToWire, PathConvertFn wireToLocal) {
    toWire = localToWire;
    toLocal = wireToLocal;
}

bool LocalToWirePath(const char* local, char* wire, size_t size) {
    return (toWire ? toWire : Unchanged)(local, wire, size);
}

bool WireToLocalPath(const char* wire, char* local, size_t size) {
    return (toLocal ? toLocal : Unchanged)(wire, local, size);
}
