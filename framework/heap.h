// Module objects and plug tables come from the C heap: running out of memory answers null,
// never throws, and keeps the language runtime's exception support out of module libraries.
#pragma once

#include <cstddef>
#include <new>

namespace mv {

void* heapAllocate(std::size_t size) noexcept;  // null when memory runs out
void heapFree(void* block) noexcept;

// Every form of new on a derived class answers null on failure instead of throwing.
struct HeapAllocated {
    static void* operator new(std::size_t size) noexcept { return heapAllocate(size); }
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return heapAllocate(size);
    }
    static void* operator new[](std::size_t size) noexcept { return heapAllocate(size); }
    static void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
        return heapAllocate(size);
    }
    static void operator delete(void* block) noexcept { heapFree(block); }
    static void operator delete(void* block, const std::nothrow_t&) noexcept { heapFree(block); }
    static void operator delete[](void* block) noexcept { heapFree(block); }
    static void operator delete[](void* block, const std::nothrow_t&) noexcept { heapFree(block); }
};

}  // namespace mv
