// Counting routines that skip the edge-free stretches between rising edges, with results
// bit-identical to the per-sample routine. One kernel per instruction set, each behind a
// process routine of the counter (countSamplesSse2, countSamplesAvx2) working on its fields;
// the processor's best is chosen once, when the counter selects its process routine.
#pragma once

#include <cstdint>

namespace mv {

// The five buffers of one call, already advanced to its first sample.
struct CountStreams {
    const float* upCount;
    const float* upZero;
    const float* byStep;
    float* outClimb;
    float* resetPulse;
};

class CountResetModule;

// The vector paths of the kernels' process routines: count samples from start, the buffers
// bound. Each answers false, having done nothing, for buffers that only the per-sample routine
// can take (see kernelCanRun) and for calls shorter than its window of 32 samples.
bool countVectorsSse2(CountResetModule& module, int32_t start, int32_t count);
// Only on a processor that has AVX2 (`processorHasAvx2`).
bool countVectorsAvx2(CountResetModule& module, int32_t start, int32_t count);

bool processorHasAvx2();

// Whether the kernels take these buffers: each output shares no sample with another buffer,
// unless it is an input's buffer at the very same index.
bool kernelCanRun(const CountStreams& streams, int32_t count);

}  // namespace mv
