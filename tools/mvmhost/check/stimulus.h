// Repeatable random material for the checks: input signals full of awkward values, and ways
// to cut a block into stretches. The same seed gives the same numbers on every platform.
#pragma once

#include <cstdint>
#include <vector>

namespace mvmhost {

// splitmix64: tiny, and its sequence is fixed by its arithmetic alone.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in 0 .. bound - 1; bound must be positive.
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>(next() % bound); }
    float uniform(float low, float high);
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

// Fills `samples` with a signal made of runs: square waves between common levels and
// thresholds (0, 0.333 and its neighbours, 0.5, 1.0, ...), constants, noise, and now and then
// NaN, infinities, denormals and extremes.
void fillSignal(Random& random, float* samples, int32_t count);

// Cuts `count` samples into stretches of 0, 1, 2, ... samples, small ones favoured; the
// lengths add up to `count`.
std::vector<int32_t> randomSplit(Random& random, int32_t count);

// Equal when the bits are equal or both are NaN: a module may compute any NaN.
bool sameSample(float a, float b);

}  // namespace mvmhost
