// Where the host lays a stretch of input samples: flush against an unreadable page, at its
// end or at its start, so that a module reading one sample outside its stretch faults; and
// the trap that turns such a fault into a verdict instead of a crash.
#pragma once

#include <cstdint>
#include <string>

#include "tools/mvmhost/runtime/guarded_memory.h"

namespace mvmhost {

enum class Flush { End, Start };

// One input plug's stretches, each copied in flush against a guard page.
class StretchPlacement {
public:
    explicit StretchPlacement(int32_t blockSize) : region_(static_cast<size_t>(blockSize)) {}

    // Copies samples start .. start + count - 1 of `block` in and answers the buffer address
    // to hand the module: that address plus start is the stretch's first sample.
    float* place(const float* block, int32_t start, int32_t count, Flush flush);
    // Where `address` lies outside the stretch last placed: "2 samples past the end of".
    bool describeOutside(uintptr_t address, std::string* where) const;
    const float* stretch() const { return first_; }

private:
    GuardedRegion region_;
    float* first_ = nullptr;  // the stretch's first sample
    int32_t count_ = 0;
};

// Runs one call of module code; a touch of an unreadable page comes back as false with the
// address, the module's call abandoned. Where the platform gives no such trap (Windows) the
// fault ends the process as any crash does.
bool runTrapped(void (*call)(void* data), void* data, uintptr_t* address);

template <class Call>
bool runTrapped(Call& call, uintptr_t* address) {
    return runTrapped([](void* data) { (*static_cast<Call*>(data))(); }, &call, address);
}

}  // namespace mvmhost
