// The per-sample routine's loop, shared by countSamples and the kernels, which take it for busy
// calls. Internal linkage: each file that includes it may be built for an instruction set of
// its own, and no copy built for one may be shared with another.
#pragma once

#include <cstdint>

#include "modules/count_reset/count_reset_module.h"

namespace mv {
namespace {

// Answers the number of rising edges on upCOUNT, counted only when kCountEdges: the kernels
// ask, to choose the path of the next call.
template <bool kCountEdges>
int32_t countEachSample(CountResetModule& m, int32_t start, int32_t count) {
    using C = CountResetModule;
    if (!m.buffersBound()) return 0;
    const float* upCount = m.upCountBuffer + start;
    const float* upZero = m.upZeroBuffer + start;
    const float* byStep = m.byStepBuffer + start;
    float* outClimb = m.outClimbBuffer + start;
    float* resetPulse = m.resetPulseBuffer + start;
    const float threshold = m.threshold;
    const double resetLevel = double(m.resetValue) + 1.0;
    float previousUpCount = m.previousUpCount, previousUpZero = m.previousUpZero;
    float accumulator = m.accumulator;
    int32_t pulse = m.pulseCountdown;
    int32_t edges = 0;

    for (int32_t i = 0; i < count; ++i) {
        // All inputs of an index are read before it is written: outputs may share a buffer.
        const float up = upCount[i], zero = upZero[i], step = byStep[i];
        if (up >= threshold && !(previousUpCount >= threshold)) {
            accumulator += step;
            if (kCountEdges) ++edges;
        }
        if (zero >= threshold && !(previousUpZero >= threshold)) accumulator = 0.0f;
        // Exact in double; a NaN accumulator fails the test and so resets.
        if (!(resetLevel > double(accumulator) * C::kVoltsPerUnit)) {
            accumulator = 0.0f;
            pulse = C::kPulseLength;
        }
        resetPulse[i] = pulse > 0 ? (--pulse, C::kPulseLevel) : 0.0f;
        outClimb[i] = accumulator;
        previousUpCount = up;
        previousUpZero = zero;
    }
    if (count <= 0) return 0;
    m.previousUpCount = previousUpCount;
    m.previousUpZero = previousUpZero;
    m.accumulator = accumulator;
    m.pulseCountdown = static_cast<int16_t>(pulse);
    return edges;
}

}  // namespace
}  // namespace mv
