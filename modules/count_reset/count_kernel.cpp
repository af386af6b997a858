// The SSE2 kernel, the baseline of every target, and the choice among kernels.
#include <emmintrin.h>

#include "modules/count_reset/count_kernel_impl.h"

namespace mv {
namespace {

struct Sse2 {
    using Vec = __m128;
    static constexpr int32_t kWidth = 4;
    static void leave() {}
    static Vec splat(float x) { return _mm_set1_ps(x); }
    static Vec load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, Vec v) { _mm_storeu_ps(p, v); }
    static void storeFirst(float* p, Vec v, int32_t n) {
        alignas(16) float lanes[kWidth];
        _mm_store_ps(lanes, v);
        for (int32_t j = 0; j < n; ++j) p[j] = lanes[j];
    }
    static Vec loadBits(const uint32_t* p) {
        return _mm_loadu_ps(reinterpret_cast<const float*>(p));
    }
    static Vec bitAnd(Vec a, Vec b) { return _mm_and_ps(a, b); }
    static Vec bitXor(Vec a, Vec b) { return _mm_xor_ps(a, b); }
    static uint32_t highMask(const float* x, Vec threshold) {
        return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpge_ps(_mm_loadu_ps(x), threshold)));
    }
    // The compares packed to bytes before their signs are gathered: fewer instructions, and
    // fewer general registers held, than one mask per vector.
    static uint32_t windowMask(const float* x, Vec threshold) {
        static_assert(kWindow == 8 * kWidth, "two byte masks per window");
        auto high = [&](int v) {
            return _mm_castps_si128(_mm_cmpge_ps(load(x + 4 * v), threshold));
        };
        auto bytes = [&](int v) {
            return _mm_packs_epi16(_mm_packs_epi32(high(v), high(v + 1)),
                                   _mm_packs_epi32(high(v + 2), high(v + 3)));
        };
        return uint32_t(_mm_movemask_epi8(bytes(0))) | uint32_t(_mm_movemask_epi8(bytes(4))) << 16;
    }
};

// A call neither busy nor short: the vector path, or the per-sample routine where the buffers
// overlap. Out of line, so that the busy path below saves no registers and realigns no stack.
template <bool (*vectors)(CountResetModule&, int32_t, int32_t)>
[[gnu::noipa]] void countFresh(void* instance, int32_t start, int32_t count) {
    auto& m = *static_cast<CountResetModule*>(static_cast<ModuleBase*>(instance));
    if (!m.buffersBound()) return;
    if (!vectors(m, start, count)) CountResetModule::countSamples(instance, start, count);
}

// Busy streams, and calls shorter than a window, take the per-sample loop before any vector
// work, inlined here: a jump between the host's call and the loop cost a 16-sample busy call
// up to a third, on x86-64 and under wine alike (the loop's branches are predicted from the
// path into it). Below a window the kernels' set-up outweighs what they skip: on silence a
// 16-sample call ran at 0.67x the per-sample routine on linux-i686 and 0.76x under wine.
template <bool (*vectors)(CountResetModule&, int32_t, int32_t)>
void countThrough(void* instance, int32_t start, int32_t count) {
    auto& m = *static_cast<CountResetModule*>(static_cast<ModuleBase*>(instance));
    const int32_t busyLeft = m.busySamplesLeft;
    if (__builtin_expect((busyLeft > 0) | (count < kWindow), 1)) {
        // Wrapping: a count below 0 processes nothing, and may only lengthen the stretch.
        const int32_t left = int32_t(uint32_t(busyLeft) - uint32_t(count));
        m.busySamplesLeft = busyLeft > 0 ? left : busyLeft;
        return m.countEach(start, count);
    }
    return countFresh<vectors>(instance, start, count);
}

}  // namespace

bool countVectorsSse2(CountResetModule& m, int32_t start, int32_t count) {
    return countVectors<Sse2>(m, start, count);
}

void MV_CDECL CountResetModule::countSamplesSse2(void* instance, int32_t start, int32_t count) {
    countThrough<countVectorsSse2>(instance, start, count);
}

void MV_CDECL CountResetModule::countSamplesAvx2(void* instance, int32_t start, int32_t count) {
    countThrough<countVectorsAvx2>(instance, start, count);
}

ProcessRoutine CountResetModule::fastestRoutine() {
    return processorHasAvx2() ? countSamplesAvx2 : countSamplesSse2;
}

bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool kernelCanRun(const CountStreams& streams, int32_t count) {
    return count <= 0 || bufferLayout(streams, count) != Layout::Clashing;
}

}  // namespace mv
