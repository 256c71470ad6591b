#include "extensions.h"

#include <cstring>

namespace {
bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ',' ||
           c == '*';
}
}  // namespace

void NormalizeExtensionList(char* list) {
    size_t i = 0;
    while (list[i] != '\0') {
        if (IsSeparator(list[i])) {
            if (i > 0 && list[i - 1] == ' ') {
                // The run already has its space: close up and look at this place again.
                memmove(list + i, list + i + 1, strlen(list + i + 1) + 1);
                continue;
            }
            list[i] = ' ';
        } else if (list[i] >= 'A' && list[i] <= 'Z') {
            list[i] = static_cast<char>(list[i] - 'A' + 'a');
        }
        ++i;
    }
}
