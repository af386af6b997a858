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

#elif defined(_WIN32)

// A module library reaches the heap through its imports: the C runtime's allocator (msvcrt or
// the universal runtime; a static C++ runtime's operator new calls its malloc) and the system's
// heap, local, global and virtual memory. Every library the host loads has those imports
// redirected to the counting copies below, which call what the loader had bound; the host's
// own allocations are not counted. A function bound at different addresses for different
// libraries (one built against msvcrt, one against ucrtbase) takes one copy per address.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <utility>

#include "tools/mvmhost/module_library.h"

namespace mvmhost {
namespace {

constexpr size_t kCopies = 4;

template <class Function>
Function as(void* bound) {
    return reinterpret_cast<Function>(bound);
}

void noteReallocation(const void* p, bool allocates) {
    if (allocates) noteAllocation();
    noteRelease(p);
}

// --- the C runtime's allocator -----------------------------------------------------------

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Recalloc = void*(__cdecl*)(void*, size_t, size_t);
using Free = void(__cdecl*)(void*);
using AlignedMalloc = void*(__cdecl*)(size_t, size_t);
using AlignedOffsetMalloc = void*(__cdecl*)(size_t, size_t, size_t);
using AlignedRealloc = void*(__cdecl*)(void*, size_t, size_t);
using Strdup = char*(__cdecl*)(const char*);
using Wcsdup = wchar_t*(__cdecl*)(const wchar_t*);

template <size_t C>
struct CountedMalloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(size_t n) {
        noteAllocation();
        return as<Malloc>(bound)(n);
    }
};
template <size_t C>
struct CountedCalloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(size_t n, size_t size) {
        noteAllocation();
        return as<Calloc>(bound)(n, size);
    }
};
template <size_t C>
struct CountedRealloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(void* p, size_t size) {
        noteReallocation(p, size != 0 || !p);  // realloc(p, 0) only frees
        return as<Realloc>(bound)(p, size);
    }
};
template <size_t C>
struct CountedRecalloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(void* p, size_t n, size_t size) {
        noteReallocation(p, n * size != 0 || !p);
        return as<Recalloc>(bound)(p, n, size);
    }
};
template <size_t C>
struct CountedFree {
    static inline void* bound = nullptr;
    static void __cdecl call(void* p) {
        noteRelease(p);
        as<Free>(bound)(p);
    }
};
template <size_t C>
struct CountedAlignedMalloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(size_t size, size_t alignment) {
        noteAllocation();
        return as<AlignedMalloc>(bound)(size, alignment);
    }
};
template <size_t C>
struct CountedAlignedOffsetMalloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(size_t size, size_t alignment, size_t offset) {
        noteAllocation();
        return as<AlignedOffsetMalloc>(bound)(size, alignment, offset);
    }
};
template <size_t C>
struct CountedAlignedRealloc {
    static inline void* bound = nullptr;
    static void* __cdecl call(void* p, size_t size, size_t alignment) {
        noteReallocation(p, size != 0 || !p);
        return as<AlignedRealloc>(bound)(p, size, alignment);
    }
};
// The runtime's copies of a text call its own malloc, past any import.
template <size_t C>
struct CountedStrdup {
    static inline void* bound = nullptr;
    static char* __cdecl call(const char* text) {
        if (text) noteAllocation();
        return as<Strdup>(bound)(text);
    }
};
template <size_t C>
struct CountedWcsdup {
    static inline void* bound = nullptr;
    static wchar_t* __cdecl call(const wchar_t* text) {
        if (text) noteAllocation();
        return as<Wcsdup>(bound)(text);
    }
};

// --- the system's memory -------------------------------------------------------------------

template <size_t C>
struct CountedHeapAlloc {
    static inline void* bound = nullptr;
    static LPVOID WINAPI call(HANDLE heap, DWORD flags, SIZE_T n) {
        noteAllocation();
        return as<decltype(&::HeapAlloc)>(bound)(heap, flags, n);
    }
};
template <size_t C>
struct CountedHeapReAlloc {
    static inline void* bound = nullptr;
    static LPVOID WINAPI call(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
        noteReallocation(p, true);
        return as<decltype(&::HeapReAlloc)>(bound)(heap, flags, p, n);
    }
};
template <size_t C>
struct CountedHeapFree {
    static inline void* bound = nullptr;
    static BOOL WINAPI call(HANDLE heap, DWORD flags, LPVOID p) {
        noteRelease(p);
        return as<decltype(&::HeapFree)>(bound)(heap, flags, p);
    }
};
// A private heap is a block of its own: one made per instance and never destroyed leaks.
template <size_t C>
struct CountedHeapCreate {
    static inline void* bound = nullptr;
    static HANDLE WINAPI call(DWORD options, SIZE_T initial, SIZE_T maximum) {
        noteAllocation();
        return as<decltype(&::HeapCreate)>(bound)(options, initial, maximum);
    }
};
template <size_t C>
struct CountedHeapDestroy {
    static inline void* bound = nullptr;
    static BOOL WINAPI call(HANDLE heap) {
        noteRelease(heap);
        return as<decltype(&::HeapDestroy)>(bound)(heap);
    }
};
template <size_t C>
struct CountedLocalAlloc {
    static inline void* bound = nullptr;
    static HLOCAL WINAPI call(UINT flags, SIZE_T n) {
        noteAllocation();
        return as<decltype(&::LocalAlloc)>(bound)(flags, n);
    }
};
template <size_t C>
struct CountedLocalReAlloc {
    static inline void* bound = nullptr;
    static HLOCAL WINAPI call(HLOCAL p, SIZE_T n, UINT flags) {
        noteReallocation(p, true);
        return as<decltype(&::LocalReAlloc)>(bound)(p, n, flags);
    }
};
template <size_t C>
struct CountedLocalFree {
    static inline void* bound = nullptr;
    static HLOCAL WINAPI call(HLOCAL p) {
        noteRelease(p);
        return as<decltype(&::LocalFree)>(bound)(p);
    }
};
template <size_t C>
struct CountedGlobalAlloc {
    static inline void* bound = nullptr;
    static HGLOBAL WINAPI call(UINT flags, SIZE_T n) {
        noteAllocation();
        return as<decltype(&::GlobalAlloc)>(bound)(flags, n);
    }
};
template <size_t C>
struct CountedGlobalReAlloc {
    static inline void* bound = nullptr;
    static HGLOBAL WINAPI call(HGLOBAL p, SIZE_T n, UINT flags) {
        noteReallocation(p, true);
        return as<decltype(&::GlobalReAlloc)>(bound)(p, n, flags);
    }
};
template <size_t C>
struct CountedGlobalFree {
    static inline void* bound = nullptr;
    static HGLOBAL WINAPI call(HGLOBAL p) {
        noteRelease(p);
        return as<decltype(&::GlobalFree)>(bound)(p);
    }
};
// Reserving a region holds it until its release; committing or decommitting pages inside one
// holds nothing more, but is heap traffic all the same, so it counts on both sides.
template <size_t C>
struct CountedVirtualAlloc {
    static inline void* bound = nullptr;
    static LPVOID WINAPI call(LPVOID address, SIZE_T size, DWORD type, DWORD protection) {
        if (type & MEM_RESERVE) noteAllocation();
        else noteReallocation(address, true);
        return as<decltype(&::VirtualAlloc)>(bound)(address, size, type, protection);
    }
};
template <size_t C>
struct CountedVirtualFree {
    static inline void* bound = nullptr;
    static BOOL WINAPI call(LPVOID address, SIZE_T size, DWORD type) {
        noteReallocation(address, !(type & MEM_RELEASE));
        return as<decltype(&::VirtualFree)>(bound)(address, size, type);
    }
};
template <size_t C>
struct LookupWithCounting {
    static inline void* bound = nullptr;
    static FARPROC WINAPI call(HMODULE library, LPCSTR name);
};

// --- which imports are redirected ----------------------------------------------------------

enum class Provider { CRuntime, System };

struct Counted {
    const char* name;
    Provider provider;
    void** bound[kCopies];
    void* copy[kCopies];
};

template <template <size_t> class Hook, size_t... C>
Counted counted(const char* name, Provider provider, std::index_sequence<C...>) {
    return {name, provider, {&Hook<C>::bound...}, {reinterpret_cast<void*>(&Hook<C>::call)...}};
}
template <template <size_t> class Hook>
Counted counted(const char* name, Provider provider) {
    return counted<Hook>(name, provider, std::make_index_sequence<kCopies>());
}

const Counted countedFunctions[] = {
    counted<CountedMalloc>("malloc", Provider::CRuntime),
    counted<CountedCalloc>("calloc", Provider::CRuntime),
    counted<CountedRealloc>("realloc", Provider::CRuntime),
    counted<CountedRecalloc>("_recalloc", Provider::CRuntime),
    counted<CountedFree>("free", Provider::CRuntime),
    counted<CountedAlignedMalloc>("_aligned_malloc", Provider::CRuntime),
    counted<CountedAlignedOffsetMalloc>("_aligned_offset_malloc", Provider::CRuntime),
    counted<CountedAlignedRealloc>("_aligned_realloc", Provider::CRuntime),
    counted<CountedFree>("_aligned_free", Provider::CRuntime),
    counted<CountedStrdup>("_strdup", Provider::CRuntime),
    counted<CountedStrdup>("strdup", Provider::CRuntime),
    counted<CountedWcsdup>("_wcsdup", Provider::CRuntime),
    counted<CountedHeapAlloc>("HeapAlloc", Provider::System),
    counted<CountedHeapReAlloc>("HeapReAlloc", Provider::System),
    counted<CountedHeapFree>("HeapFree", Provider::System),
    counted<CountedHeapCreate>("HeapCreate", Provider::System),
    counted<CountedHeapDestroy>("HeapDestroy", Provider::System),
    counted<CountedLocalAlloc>("LocalAlloc", Provider::System),
    counted<CountedLocalReAlloc>("LocalReAlloc", Provider::System),
    counted<CountedLocalFree>("LocalFree", Provider::System),
    counted<CountedGlobalAlloc>("GlobalAlloc", Provider::System),
    counted<CountedGlobalReAlloc>("GlobalReAlloc", Provider::System),
    counted<CountedGlobalFree>("GlobalFree", Provider::System),
    counted<CountedVirtualAlloc>("VirtualAlloc", Provider::System),
    counted<CountedVirtualFree>("VirtualFree", Provider::System),
    // What a library looks up at run time is redirected as its imports are.
    counted<LookupWithCounting>("GetProcAddress", Provider::System),
};

bool startsWith(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
    return true;
}

Provider providerOf(const char* dll, bool& known) {
    static const char* const runtimes[] = {"msvcr", "ucrtbase", "api-ms-win-crt-"};
    static const char* const systems[] = {"kernel32.", "kernelbase.", "api-ms-win-core-"};
    known = true;
    for (const char* prefix : runtimes)
        if (startsWith(dll, prefix)) return Provider::CRuntime;
    for (const char* prefix : systems)
        if (startsWith(dll, prefix)) return Provider::System;
    known = false;
    return Provider::System;
}

// Set when a function came bound at more addresses than it has copies: from then on the counts
// miss something, and the checks that need them must not pass on them.
bool copiesRanOut = false;

void* redirect(const char* dll, const char* function, void* bound) {
    bool known = false;
    const Provider provider = providerOf(dll, known);
    if (!known || !bound) return bound;
    for (const Counted& f : countedFunctions) {
        if (f.provider != provider || std::strcmp(f.name, function) != 0) continue;
        for (size_t c = 0; c < kCopies; ++c)
            if (f.copy[c] == bound) return bound;  // this library was loaded and redirected already
        for (size_t c = 0; c < kCopies; ++c) {
            if (!*f.bound[c]) *f.bound[c] = bound;
            if (*f.bound[c] == bound) return f.copy[c];
        }
        copiesRanOut = true;
        return bound;
    }
    return bound;
}

template <size_t C>
FARPROC WINAPI LookupWithCounting<C>::call(HMODULE library, LPCSTR name) {
    FARPROC found = as<decltype(&::GetProcAddress)>(bound)(library, name);
    char path[MAX_PATH] = {};
    // Names only: a lookup by ordinal passes a number below 0x10000 in the name's place.
    if (!found || reinterpret_cast<uintptr_t>(name) < 0x10000 || !GetModuleFileNameA(library, path, sizeof path))
        return found;
    const char* file = std::strrchr(path, '\\');
    return as<FARPROC>(redirect(file ? file + 1 : path, name, reinterpret_cast<void*>(found)));
}

const bool installed = (setImportRedirector(redirect), true);

}  // namespace

bool allocationHooksAvailable() { return installed && !copiesRanOut; }

}  // namespace mvmhost

#else

namespace mvmhost {
bool allocationHooksAvailable() { return false; }
}  // namespace mvmhost

#endif
