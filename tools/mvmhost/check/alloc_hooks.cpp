#include "tools/mvmhost/check/alloc_hooks.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define MV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MV_ASAN 1
#endif
#endif

namespace mvmhost {
namespace {

// Plain relaxed counters: the allocator is called on every thread, the count is read on one.
std::atomic<bool> armed{false};
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> releases{0};

inline void noteAllocation() {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
inline void noteRelease(const volatile void* p) {
    if (p && armed.load(std::memory_order_relaxed)) releases.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

AllocationWatch::AllocationWatch() {
    start_ = count();
    armed.store(true, std::memory_order_relaxed);
}

AllocationWatch::~AllocationWatch() { armed.store(false, std::memory_order_relaxed); }

AllocationCount AllocationWatch::count() const {
    AllocationCount now{allocations.load(std::memory_order_relaxed),
                        releases.load(std::memory_order_relaxed)};
    return {now.allocations - start_.allocations, now.releases - start_.releases};
}

}  // namespace mvmhost

#if defined(MV_ASAN)

// The sanitizer owns malloc and operator new; it calls these for every block it hands out or
// takes back, whoever asked.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, size_t), void (*free_hook)(const volatile void*));

namespace mvmhost {
namespace {
void onMalloc(const volatile void*, size_t) { noteAllocation(); }
void onFree(const volatile void* p) { noteRelease(p); }
const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
}  // namespace
bool allocationHooksAvailable() { return installed; }
}  // namespace mvmhost

#elif defined(__GLIBC__)

// glibc's allocator under its other names; operator new of the shared C++ runtime and every
// loaded library's malloc resolve to the definitions below, which the program exports.
extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* p);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

#define MV_HOOK extern "C" __attribute__((visibility("default")))

MV_HOOK void* malloc(size_t size) noexcept {
    mvmhost::noteAllocation();
    return __libc_malloc(size);
}
MV_HOOK void free(void* p) noexcept {
    mvmhost::noteRelease(p);
    __libc_free(p);
}
MV_HOOK void* calloc(size_t n, size_t size) noexcept {
    mvmhost::noteAllocation();
    return __libc_calloc(n, size);
}
MV_HOOK void* realloc(void* p, size_t size) noexcept {
    if (size != 0 || !p) mvmhost::noteAllocation();  // realloc(p, 0) only frees
    mvmhost::noteRelease(p);
    return __libc_realloc(p, size);
}
MV_HOOK void* memalign(size_t alignment, size_t size) noexcept {
    mvmhost::noteAllocation();
    return __libc_memalign(alignment, size);
}
MV_HOOK void* aligned_alloc(size_t alignment, size_t size) noexcept {
    mvmhost::noteAllocation();
    return __libc_memalign(alignment, size);
}
MV_HOOK int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    mvmhost::noteAllocation();
    void* p = __libc_memalign(alignment, size);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
MV_HOOK void* valloc(size_t size) noexcept {
    mvmhost::noteAllocation();
    return __libc_valloc(size);
}
MV_HOOK void* pvalloc(size_t size) noexcept {
    mvmhost::noteAllocation();
    return __libc_pvalloc(size);
}

namespace mvmhost {
bool allocationHooksAvailable() { return true; }
}  // namespace mvmhost

#else

namespace mvmhost {
bool allocationHooksAvailable() { return false; }
}  // namespace mvmhost

#endif
