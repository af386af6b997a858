#include "tools/mvmhost/runtime/guarded_memory.h"

#include "tools/mvmhost/base/error.h"

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

}  // namespace

GuardedRegion::GuardedRegion(size_t samples) : page_(pageSize()) {
    const size_t bytes = samples * sizeof(float);
    const size_t inside = (bytes + page_ - 1) / page_ * page_ + (bytes == 0 ? page_ : 0);
    total_ = inside + 2 * page_;
#if defined(_WIN32)
    base_ = VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    DWORD old = 0;
    if (!base_ ||
        !VirtualProtect(static_cast<char*>(base_) + page_, inside, PAGE_READWRITE, &old)) {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
        throw Error("cannot reserve guarded sample memory");
    }
#else
    base_ = mmap(nullptr, total_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base_ == MAP_FAILED ||
        mprotect(static_cast<char*>(base_) + page_, inside, PROT_READ | PROT_WRITE) != 0) {
        if (base_ != MAP_FAILED) munmap(base_, total_);
        throw Error("cannot reserve guarded sample memory");
    }
#endif
    begin_ = reinterpret_cast<float*>(static_cast<char*>(base_) + page_);
    end_ = reinterpret_cast<float*>(static_cast<char*>(base_) + page_ + inside);
}

GuardedRegion::GuardedRegion(GuardedRegion&& other) noexcept
    : base_(other.base_),
      total_(other.total_),
      page_(other.page_),
      begin_(other.begin_),
      end_(other.end_) {
    other.base_ = nullptr;
}

GuardedRegion::~GuardedRegion() {
    if (!base_) return;
#if defined(_WIN32)
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, total_);
#endif
}

bool GuardedRegion::inGuard(uintptr_t address, std::ptrdiff_t* samplesOutside) const {
    const auto first = reinterpret_cast<uintptr_t>(begin_),
               last = reinterpret_cast<uintptr_t>(end_);
    if (address + page_ >= first && address < first) {
        *samplesOutside =
            -static_cast<std::ptrdiff_t>((first - address + sizeof(float) - 1) / sizeof(float));
        return true;
    }
    if (address >= last && address < last + page_) {
        *samplesOutside = static_cast<std::ptrdiff_t>((address - last) / sizeof(float));
        return true;
    }
    return false;
}

}  // namespace mvmhost
