// The AVX2 kernel. This file alone is compiled for AVX2; nothing in it may be shared with
// code that runs on processors without it.
#include <immintrin.h>

#include "modules/count_reset/count_kernel_impl.h"

namespace mv {
namespace {

struct Avx2 {
    using Vec = __m256;
    static constexpr int32_t kWidth = 8;
    // The caller's SSE code would pay for upper halves left dirty on some paths out.
    static void leave() { _mm256_zeroupper(); }
    static Vec splat(float x) { return _mm256_set1_ps(x); }
    static Vec load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    static void storeFirst(float* p, Vec v, int32_t n) {
        const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        _mm256_maskstore_ps(p, _mm256_cmpgt_epi32(_mm256_set1_epi32(n), lanes), v);
    }
    static Vec loadBits(const uint32_t* p) {
        return _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    }
    static Vec bitAnd(Vec a, Vec b) { return _mm256_and_ps(a, b); }
    static Vec bitXor(Vec a, Vec b) { return _mm256_xor_ps(a, b); }
    static uint32_t highMask(const float* x, Vec threshold) {
        const __m256 high = _mm256_cmp_ps(_mm256_loadu_ps(x), threshold, _CMP_GE_OQ);
        return static_cast<uint32_t>(_mm256_movemask_ps(high));
    }
    // The compares packed to bytes before their signs are gathered, as in the SSE2 kernel. The
    // packs work within 128-bit lanes, leaving the samples' groups of four in the order
    // 0, 2, 4, 6, 1, 3, 5, 7; the permutation puts them back.
    static uint32_t windowMask(const float* x, Vec threshold) {
        static_assert(kWindow == 4 * kWidth, "one byte mask per window");
        auto high = [&](int v) {
            return _mm256_castps_si256(_mm256_cmp_ps(load(x + 8 * v), threshold, _CMP_GE_OQ));
        };
        const __m256i bytes = _mm256_packs_epi16(_mm256_packs_epi32(high(0), high(1)),
                                                 _mm256_packs_epi32(high(2), high(3)));
        const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        return uint32_t(_mm256_movemask_epi8(_mm256_permutevar8x32_epi32(bytes, order)));
    }
};

}  // namespace

bool countVectorsAvx2(CountResetModule& m, int32_t start, int32_t count) {
    return countVectors<Avx2>(m, start, count);
}

}  // namespace mv
