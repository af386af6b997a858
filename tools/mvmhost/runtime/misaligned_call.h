// Calls into a module with the stack only 4-byte aligned, as hosts built with MSVC do on 32-bit
// Windows: a module whose compiler assumed 16 bytes there (aligned SSE spills of locals)
// crashes in such a host and nowhere else.
#pragma once

#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define MV_MISALIGNED_CALLS 1
// On functions a module calls back with whatever stack it has.
#define MV_REALIGN __attribute__((force_align_arg_pointer))
#else
#define MV_MISALIGNED_CALLS 0
#define MV_REALIGN
#endif

namespace mvmhost {

#if MV_MISALIGNED_CALLS
// Calls the cdecl `function` with `count` 32-bit arguments, the first at args[0], with the
// stack pointer `offset` bytes past a 16-byte boundary at the call (0: aligned); answers what
// the function left in eax.
extern "C" uint32_t mvmhost_callMisaligned(const void* function, const uint32_t* args,
                                           int32_t count, int32_t offset);
#endif

}  // namespace mvmhost
