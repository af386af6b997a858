// Sample buffers flush against unreadable pages, so that a module reading or writing one
// sample outside the stretch it was given faults at once instead of reading a neighbour's data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mvmhost {

// Room for `capacity` samples between two inaccessible guard pages.
class GuardedBuffer {
public:
    explicit GuardedBuffer(int32_t capacity);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    int32_t capacity() const { return capacity_; }

    // Where a stretch of `count` samples (at most the capacity) goes: its last sample right
    // before the upper guard page, or its first right after the lower one.
    float* endFlush(int32_t count) { return last_ - count; }
    float* startFlush() { return first_; }

private:
    unsigned char* region_ = nullptr;
    size_t regionBytes_ = 0;
    float* first_ = nullptr;  // the first sample after the lower guard page
    float* last_ = nullptr;   // one past the last sample before the upper guard page
    int32_t capacity_;
};

}  // namespace mvmhost
