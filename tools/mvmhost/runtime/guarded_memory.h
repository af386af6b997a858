// Sample memory with an unreadable page on each side, so that a read or a write just outside
// it faults at once instead of passing unseen.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mvmhost {

class GuardedRegion {
public:
    // At least `samples` readable and writable floats, rounded up to whole pages. Throws
    // Error when the system refuses the memory.
    explicit GuardedRegion(size_t samples);
    ~GuardedRegion();
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;
    GuardedRegion(GuardedRegion&& other) noexcept;
    GuardedRegion& operator=(GuardedRegion&&) = delete;

    float* begin() const { return begin_; }
    float* end() const { return end_; }
    // Where `address` lies in the guard pages: negative samples before begin(), from 0 up past
    // end(); false when it lies in neither.
    bool inGuard(uintptr_t address, std::ptrdiff_t* samplesOutside) const;

private:
    void* base_ = nullptr;
    size_t total_ = 0, page_ = 0;
    float* begin_ = nullptr;
    float* end_ = nullptr;
};

}  // namespace mvmhost
