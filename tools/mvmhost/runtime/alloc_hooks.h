// Counting heap allocations while the count is armed, so that the validator sees what a
// module's entries allocate. On Linux it counts anyone in this process: the module library's
// calls of malloc and operator new reach these hooks because the program exports its allocator.
// On Windows it counts what the module libraries loaded here ask of the C runtime's allocator
// and of the system's memory functions, whose imports are redirected at load.
#pragma once

#include <cstdint>

namespace mvmhost {

struct AllocationCount {
    uint64_t allocations = 0;  // malloc, calloc, realloc, operator new, ...
    uint64_t releases = 0;     // free, operator delete, realloc of a block
};

// False where this build cannot see allocations: the checks that need them skip.
bool allocationHooksAvailable();

// Counts from construction to destruction, on the thread that calls the module; a watch may
// live inside another (a chunk's inside one call's).
class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    AllocationCount count() const;

private:
    AllocationCount start_;
};

}  // namespace mvmhost
