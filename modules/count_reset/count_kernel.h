// Counting routines that skip the edge-free stretches between rising edges, with results
// bit-identical to the per-sample routine. One kernel per instruction set; the processor's
// best is chosen once, when the counter selects its process routine.
#pragma once

#include <cstdint>

namespace mv {

// The counting state a process routine carries from one call to the next.
struct CountState {
    float previousUpCount;  ///< upCOUNT of the last processed sample
    float previousUpZero;   ///< upZERO of the last processed sample
    float accumulator;      ///< OUTclimb, 1.0 = 10 V
    int16_t pulseCountdown; ///< further samples on which RESETpulse is high
    // Worked out again only when resetValue changes: its loop and division cost more than a
    // short call's samples. resetLimitOf is outside the int16 range until the first one.
    float resetLimit;       ///< the least accumulator that resets at resetLimitOf
    int32_t resetLimitOf;
};

// The five buffers of one call, already advanced to its first sample.
struct CountStreams {
    const float* upCount;
    const float* upZero;
    const float* byStep;
    float* outClimb;
    float* resetPulse;
};

// Processes `count` samples (none when count <= 0) and answers true, or answers false and does
// nothing when an output overlaps another buffer other than an input at the very same index
// (see `kernelCanRun`); the per-sample routine handles those calls. The buffers come one by
// one, in registers where the convention allows: a struct the caller has just stored, read
// back with wider loads, stalls the store forwarding on every call.
using CountKernel = bool (*)(const float* upCount, const float* upZero, const float* byStep,
                             float* outClimb, float* resetPulse, CountState& state,
                             float threshold, int16_t resetValue, int32_t count);

bool countKernelSse2(const float* upCount, const float* upZero, const float* byStep,
                     float* outClimb, float* resetPulse, CountState& state, float threshold,
                     int16_t resetValue, int32_t count);
// Only on a processor that has AVX2 (`processorHasAvx2`).
bool countKernelAvx2(const float* upCount, const float* upZero, const float* byStep,
                     float* outClimb, float* resetPulse, CountState& state, float threshold,
                     int16_t resetValue, int32_t count);

bool processorHasAvx2();

// Whether the kernels take these buffers: each output shares no sample with another buffer,
// unless it is an input's buffer at the very same index.
bool kernelCanRun(const CountStreams& streams, int32_t count);

}  // namespace mv
