// Built assuming every caller keeps the stack 16-byte aligned (-mincoming-stack-boundary=4),
// it keeps four samples in an aligned local with an aligned SSE store: a host that calls with
// the stack 4-byte aligned only, as 32-bit Windows hosts built with MSVC do, sees it crash.
#include <xmmintrin.h>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL alignedDifference(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        alignas(16) float lanes[4];
        const __m128 v = _mm_set_ps1(m.inBuffer[i]);
        // What the compiler makes of an aligned spill, kept from being optimised into another.
        asm volatile("movaps %1, %0" : "=m"(lanes) : "x"(v));
        const float x = lanes[0];
        m.outBuffer[i] = m.mode ? x - m.previous : x;
        m.previous = x;
    }
}

struct AssumesAlignedStack : PlainModule {
    AssumesAlignedStack(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, alignedDifference) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"assumesAlignedStack", "Assumes an aligned stack",
                                     faulty::kAbout, createModule<faulty::AssumesAlignedStack>};
}
