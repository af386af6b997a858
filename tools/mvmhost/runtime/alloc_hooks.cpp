#include "tools/mvmhost/runtime/alloc_hooks.h"

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
std::atomic<int> watches{0};  // armed while any watch lives
std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> releases{0};

inline void noteAllocation() {
    if (watches.load(std::memory_order_relaxed) > 0)
        allocations.fetch_add(1, std::memory_order_relaxed);
}
inline void noteRelease(const volatile void* p) {
    if (p && watches.load(std::memory_order_relaxed) > 0)
        releases.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

AllocationWatch::AllocationWatch() {
    start_ = count();
    watches.fetch_add(1, std::memory_order_relaxed);
}

AllocationWatch::~AllocationWatch() { watches.fetch_sub(1, std::memory_order_relaxed); }

AllocationCount AllocationWatch::count() const {
    AllocationCount now{allocations.load(std::memory_order_relaxed),
                        releases.load(std::memory_order_relaxed)};
    return {now.allocations - start_.allocations, now.releases - start_.releases};
}

}  // namespace mvmhost

#if defined(MV_ASAN)

// The sanitizer owns malloc and operator new; it calls these for every block it hands out or
// takes back, whoever asked.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));

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
#include <tuple>
#include <utility>

#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {
namespace {

// Functions of one type that count alike share their copies (calloc and _aligned_malloc):
// room for four runtimes.
constexpr size_t kCopies = 8;

template <class Function>
Function as(void* bound) {
    return reinterpret_cast<Function>(bound);
}

void noteReallocation(const void* p, bool allocates) {
    if (allocates) noteAllocation();
    noteRelease(p);
}

// How a call counts, from its arguments.
struct Allocates {
    template <class... A>
    static void note(const A&...) {
        noteAllocation();
    }
};
// Releases the block in argument `Block`.
template <size_t Block>
struct Releases {
    template <class... A>
    static void note(const A&... a) {
        noteRelease(std::get<Block>(std::tie(a...)));
    }
};
// Resizes the block in argument `Block`: a new block, unless argument `Size` asks for none
// (which only frees); without a size argument always a new one.
constexpr size_t kNoSize = ~size_t{0};
template <size_t Block, size_t Size = kNoSize>
struct Reallocates {
    template <class... A>
    static void note(const A&... a) {
        const void* block = std::get<Block>(std::tie(a...));
        if constexpr (Size == kNoSize)
            noteReallocation(block, true);
        else
            noteReallocation(block, std::get<Size>(std::tie(a...)) != 0 || !block);
    }
};
// Reserving a region holds it until its release; committing or decommitting pages inside one
// holds nothing more, but is heap traffic all the same, so it counts on both sides.
struct ReservesOrCommits {
    static void note(LPVOID address, SIZE_T, DWORD type, DWORD) {
        if (type & MEM_RESERVE)
            noteAllocation();
        else
            noteReallocation(address, true);
    }
};
struct ReleasesOrDecommits {
    static void note(LPVOID address, SIZE_T, DWORD type) {
        noteReallocation(address, !(type & MEM_RELEASE));
    }
};

// Copy C of a counting function of type Function: notes the call, then calls what the loader
// had bound for that copy.
template <size_t C, class Function, class Note>
struct Counting;
template <size_t C, class R, class... A, class Note>
struct Counting<C, R(__cdecl*)(A...), Note> {
    static inline void* bound = nullptr;
    static R __cdecl call(A... a) {
        Note::note(a...);
        return as<R(__cdecl*)(A...)>(bound)(a...);
    }
};
#if defined(__i386__)  // elsewhere the system's functions are called as the C runtime's are
template <size_t C, class R, class... A, class Note>
struct Counting<C, R(WINAPI*)(A...), Note> {
    static inline void* bound = nullptr;
    static R WINAPI call(A... a) {
        Note::note(a...);
        return as<R(WINAPI*)(A...)>(bound)(a...);
    }
};
#endif
template <class Function, class Note>
struct Counted {
    template <size_t C>
    using Copy = Counting<C, Function, Note>;
};

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Recalloc = void*(__cdecl*)(void*, size_t, size_t);
using Free = void(__cdecl*)(void*);
using AlignedMalloc = void*(__cdecl*)(size_t, size_t);
using AlignedOffsetMalloc = void*(__cdecl*)(size_t, size_t, size_t);
using AlignedRealloc = void*(__cdecl*)(void*, size_t, size_t);
// The runtime's copies of a text call its own malloc, past any import.
using Strdup = char*(__cdecl*)(const char*);
using Wcsdup = wchar_t*(__cdecl*)(const wchar_t*);

template <size_t C>
struct LookupWithCounting {
    static inline void* bound = nullptr;
    static FARPROC WINAPI call(HMODULE library, LPCSTR name);
};

// --- which imports are redirected ----------------------------------------------------------

enum class Provider { CRuntime, System };

struct Redirect {
    const char* name;
    Provider provider;
    void** bound[kCopies];
    void* copy[kCopies];
};

template <template <size_t> class Hook, size_t... C>
Redirect redirectTo(const char* name, Provider provider, std::index_sequence<C...>) {
    return {name, provider, {&Hook<C>::bound...}, {reinterpret_cast<void*>(&Hook<C>::call)...}};
}
template <template <size_t> class Hook>
Redirect redirectTo(const char* name, Provider provider) {
    return redirectTo<Hook>(name, provider, std::make_index_sequence<kCopies>());
}

const Redirect countedFunctions[] = {
    redirectTo<Counted<Malloc, Allocates>::Copy>("malloc", Provider::CRuntime),
    redirectTo<Counted<Calloc, Allocates>::Copy>("calloc", Provider::CRuntime),
    redirectTo<Counted<Realloc, Reallocates<0, 1> >::Copy>("realloc", Provider::CRuntime),
    redirectTo<Counted<Recalloc, Reallocates<0, 1> >::Copy>("_recalloc", Provider::CRuntime),
    redirectTo<Counted<Free, Releases<0> >::Copy>("free", Provider::CRuntime),
    redirectTo<Counted<AlignedMalloc, Allocates>::Copy>("_aligned_malloc", Provider::CRuntime),
    redirectTo<Counted<AlignedOffsetMalloc, Allocates>::Copy>("_aligned_offset_malloc",
                                                              Provider::CRuntime),
    redirectTo<Counted<AlignedRealloc, Reallocates<0, 1> >::Copy>("_aligned_realloc",
                                                                  Provider::CRuntime),
    redirectTo<Counted<Free, Releases<0> >::Copy>("_aligned_free", Provider::CRuntime),
    redirectTo<Counted<Strdup, Allocates>::Copy>("_strdup", Provider::CRuntime),
    redirectTo<Counted<Strdup, Allocates>::Copy>("strdup", Provider::CRuntime),
    redirectTo<Counted<Wcsdup, Allocates>::Copy>("_wcsdup", Provider::CRuntime),
    redirectTo<Counted<decltype(&::HeapAlloc), Allocates>::Copy>("HeapAlloc", Provider::System),
    redirectTo<Counted<decltype(&::HeapReAlloc), Reallocates<2> >::Copy>("HeapReAlloc",
                                                                         Provider::System),
    redirectTo<Counted<decltype(&::HeapFree), Releases<2> >::Copy>("HeapFree", Provider::System),
    redirectTo<Counted<decltype(&::HeapCreate), Allocates>::Copy>("HeapCreate", Provider::System),
    redirectTo<Counted<decltype(&::HeapDestroy), Releases<0> >::Copy>("HeapDestroy",
                                                                      Provider::System),
    redirectTo<Counted<decltype(&::LocalAlloc), Allocates>::Copy>("LocalAlloc", Provider::System),
    redirectTo<Counted<decltype(&::LocalReAlloc), Reallocates<0> >::Copy>("LocalReAlloc",
                                                                          Provider::System),
    redirectTo<Counted<decltype(&::LocalFree), Releases<0> >::Copy>("LocalFree", Provider::System),
    redirectTo<Counted<decltype(&::GlobalAlloc), Allocates>::Copy>("GlobalAlloc", Provider::System),
    redirectTo<Counted<decltype(&::GlobalReAlloc), Reallocates<0> >::Copy>("GlobalReAlloc",
                                                                           Provider::System),
    redirectTo<Counted<decltype(&::GlobalFree), Releases<0> >::Copy>("GlobalFree",
                                                                     Provider::System),
    redirectTo<Counted<decltype(&::VirtualAlloc), ReservesOrCommits>::Copy>("VirtualAlloc",
                                                                            Provider::System),
    redirectTo<Counted<decltype(&::VirtualFree), ReleasesOrDecommits>::Copy>("VirtualFree",
                                                                             Provider::System),
    // What a library looks up at run time is redirected as its imports are.
    redirectTo<LookupWithCounting>("GetProcAddress", Provider::System),
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
    for (const Redirect& f : countedFunctions) {
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
    if (!found || reinterpret_cast<uintptr_t>(name) < 0x10000 ||
        !GetModuleFileNameA(library, path, sizeof path))
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
