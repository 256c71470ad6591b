#include "fake_message.h"

#include "message.h"

namespace {
int shown = 0;
uint16_t last = 0;
}  // namespace

namespace fakemessage {
void Reset() {
    shown = 0;
    last = 0;
}
int Count() { return shown; }
uint16_t Last() { return last; }
}  // namespace fakemessage

void ShowMessage(uint16_t id) {
    ++shown;
    last = id;
}
