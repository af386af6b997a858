#include "tools/mvmhost/fuzz/guarded_stretch.h"

#include <algorithm>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace mvmhost {
namespace {

size_t pageSize() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

// The whole region readable and writable, then its first and last page closed.
unsigned char* mapRegion(size_t bytes, size_t page) {
#if defined(_WIN32)
    auto* region = static_cast<unsigned char*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (region && (!VirtualProtect(region, page, PAGE_NOACCESS, &old) ||
                   !VirtualProtect(region + bytes - page, page, PAGE_NOACCESS, &old))) {
        VirtualFree(region, 0, MEM_RELEASE);
        region = nullptr;
    }
    return region;
#else
    void* region = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return nullptr;
    auto* bytesAt = static_cast<unsigned char*>(region);
    if (mprotect(bytesAt, page, PROT_NONE) != 0 || mprotect(bytesAt + bytes - page, page, PROT_NONE) != 0) {
        munmap(region, bytes);
        return nullptr;
    }
    return bytesAt;
#endif
}

void unmapRegion(unsigned char* region, size_t bytes) {
#if defined(_WIN32)
    (void)bytes;
    VirtualFree(region, 0, MEM_RELEASE);
#else
    munmap(region, bytes);
#endif
}

}  // namespace

GuardedBuffer::GuardedBuffer(int32_t capacity) : capacity_(std::max<int32_t>(capacity, 1)) {
    const size_t page = pageSize();
    const size_t data = (static_cast<size_t>(capacity_) * sizeof(float) + page - 1) / page * page;
    regionBytes_ = data + 2 * page;
    region_ = mapRegion(regionBytes_, page);
    if (!region_) throw std::bad_alloc();
    first_ = reinterpret_cast<float*>(region_ + page);
    last_ = reinterpret_cast<float*>(region_ + page + data);
}

GuardedBuffer::~GuardedBuffer() { unmapRegion(region_, regionBytes_); }

}  // namespace mvmhost
