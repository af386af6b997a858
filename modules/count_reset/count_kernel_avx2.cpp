// The AVX2 kernel. This file alone is compiled for AVX2; nothing in it may be shared with
// code that runs on processors without it.
#include <immintrin.h>

#include "modules/count_reset/count_kernel_impl.h"

namespace mv {
namespace {

struct Avx2 {
    using Vec = __m256;
    static constexpr int32_t kWidth = 8;
    static Vec splat(float x) { return _mm256_set1_ps(x); }
    static Vec load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    static uint32_t highMask(const float* x, Vec threshold) {
        const __m256 high = _mm256_cmp_ps(_mm256_loadu_ps(x), threshold, _CMP_GE_OQ);
        return static_cast<uint32_t>(_mm256_movemask_ps(high));
    }
};

}  // namespace

void countKernelAvx2(const CountStreams& streams, CountState& state, float threshold,
                     int16_t resetValue, int32_t count) {
    countWith<Avx2>(streams, state, threshold, resetValue, count);
}

}  // namespace mv
