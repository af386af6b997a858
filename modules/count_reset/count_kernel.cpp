// The SSE2 kernel, the baseline of every target, and the choice among kernels.
#include <emmintrin.h>

#include <initializer_list>

#include "modules/count_reset/count_kernel_impl.h"

namespace mv {
namespace {

struct Sse2 {
    using Vec = __m128;
    static constexpr int32_t kWidth = 4;
    static Vec splat(float x) { return _mm_set1_ps(x); }
    static Vec load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm_storeu_ps(p, v); }
    static uint32_t highMask(const float* x, Vec threshold) {
        return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpge_ps(_mm_loadu_ps(x), threshold)));
    }
};

// Whether [a, a + bytes) and [b, b + bytes) share a byte.
bool overlaps(const void* a, const void* b, uintptr_t bytes) {
    const uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return (x < y ? y - x : x - y) < bytes;
}

}  // namespace

void countKernelSse2(const CountStreams& streams, CountState& state, float threshold,
                     int16_t resetValue, int32_t count) {
    countWith<Sse2>(streams, state, threshold, resetValue, count);
}

bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool kernelCanRun(const CountStreams& s, int32_t count) {
    if (count <= 0) return true;
    const uintptr_t bytes = uintptr_t(count) * sizeof(float);
    for (const float* output : {s.outClimb, s.resetPulse}) {
        for (const float* input : {s.upCount, s.upZero, s.byStep})
            if (input != output && overlaps(input, output, bytes)) return false;
    }
    return !overlaps(s.outClimb, s.resetPulse, bytes);
}

}  // namespace mv
