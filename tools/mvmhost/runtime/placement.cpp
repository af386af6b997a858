#include "tools/mvmhost/runtime/placement.h"

#include <algorithm>

#if !defined(_WIN32)
#include <signal.h>
#include <csetjmp>
#include <csignal>
#endif

namespace mvmhost {

float* StretchPlacement::place(const float* block, int32_t start, int32_t count, Flush flush) {
    count = std::max(count, 0);
    first_ = flush == Flush::End ? region_.end() - count : region_.begin();
    count_ = count;
    std::copy_n(block + start, count, first_);
    // The module indexes from the buffer's start; only first_ .. first_ + count is memory.
    return reinterpret_cast<float*>(reinterpret_cast<uintptr_t>(first_) -
                                    static_cast<uintptr_t>(start) * sizeof(float));
}

bool StretchPlacement::describeOutside(uintptr_t address, std::string* where) const {
    std::ptrdiff_t unused;
    if (!region_.inGuard(address, &unused)) return false;
    const auto first = reinterpret_cast<intptr_t>(first_);
    const intptr_t offset =
        (static_cast<intptr_t>(address) - first) / static_cast<intptr_t>(sizeof(float));
    const intptr_t outside = static_cast<intptr_t>(address) < first
                                 ? (first - static_cast<intptr_t>(address) + 3) / 4
                                 : offset - count_ + 1;
    *where = std::to_string(outside) + (outside == 1 ? " sample " : " samples ") +
             (static_cast<intptr_t>(address) < first ? "before the start of" : "past the end of");
    return true;
}

#if defined(_WIN32)

bool runTrapped(void (*call)(void* data), void* data, uintptr_t*) {
    call(data);
    return true;
}

#else

namespace {

sigjmp_buf trapJump;
volatile std::sig_atomic_t trapArmed = 0;
uintptr_t trapAddress = 0;
struct sigaction previousSegv, previousBus;

void onTrap(int signal, siginfo_t* info, void*) {
    if (!trapArmed) {  // not ours: let the fault take its ordinary course
        sigaction(SIGSEGV, &previousSegv, nullptr);
        sigaction(SIGBUS, &previousBus, nullptr);
        (void)signal;
        return;
    }
    trapArmed = 0;
    trapAddress = reinterpret_cast<uintptr_t>(info->si_addr);
    siglongjmp(trapJump, 1);
}

}  // namespace

bool runTrapped(void (*call)(void* data), void* data, uintptr_t* address) {
    struct sigaction action {};
    action.sa_sigaction = onTrap;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigaction(SIGSEGV, &action, &previousSegv);
    sigaction(SIGBUS, &action, &previousBus);
    bool clean = true;
    if (sigsetjmp(trapJump, 1) == 0) {
        trapArmed = 1;
        call(data);
        trapArmed = 0;
    } else {
        clean = false;
        *address = trapAddress;
    }
    sigaction(SIGSEGV, &previousSegv, nullptr);
    sigaction(SIGBUS, &previousBus, nullptr);
    return clean;
}

#endif

}  // namespace mvmhost
