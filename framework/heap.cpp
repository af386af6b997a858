// Kept in a file of its own so that a test program can put failing versions in its place.
#include "framework/heap.h"

#include <cstdlib>

namespace mv {

void* heapAllocate(std::size_t size) noexcept { return std::malloc(size ? size : 1); }
void heapFree(void* block) noexcept { std::free(block); }

}  // namespace mv
