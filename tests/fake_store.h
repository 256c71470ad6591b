// An in-memory settings store that can be made unavailable, for the platform
// that has no registry.
#pragma once

namespace fakestore {
void Reset();
void SetUnavailable(bool unavailable);
int WriteCount();
}  // namespace fakestore
