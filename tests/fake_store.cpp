#include "fake_store.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "settings_store.h"

namespace {
std::map<std::string, std::vector<unsigned char>> values;
bool unavailable = false;
bool open = false;
int writes = 0;
}  // namespace

namespace fakestore {
void Reset() {
    values.clear();
    unavailable = open = false;
    writes = 0;
}
void SetUnavailable(bool value) { unavailable = value; }
int WriteCount() { return writes; }
}  // namespace fakestore

int OpenSettingsKey() {
    if (unavailable) return 0;
    open = true;
    return 1;
}

void CloseSettingsKey() { open = false; }

int ReadSetting(const char* name, void* field, uint32_t size) {
    if (!OpenSettingsKey()) return 0;
    auto found = values.find(name);
    if (found == values.end() || found->second.size() != size) return 0;
    memcpy(field, found->second.data(), size);
    return 1;
}

int WriteSetting(const char* name, const void* field, uint32_t size) {
    if (!OpenSettingsKey()) return 0;
    const unsigned char* bytes = static_cast<const unsigned char*>(field);
    values[name].assign(bytes, bytes + size);
    ++writes;
    return 1;
}

void DeleteSettingsKey() {
    CloseSettingsKey();
    values.clear();
}
