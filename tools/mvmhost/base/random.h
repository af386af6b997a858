// The one seeded random source of the host: splitmix64, tiny, and its sequence fixed by its
// arithmetic alone, so the same seed gives the same numbers on every platform.
#pragma once

#include <cstdint>

namespace mvmhost {

// splitmix64's step and finaliser: each value a function of the seed and its position alone.
constexpr uint64_t kSplitMixStep = 0x9E3779B97F4A7C15ull;
constexpr uint64_t splitMix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
// The value at `position` (0, 1, 2, ...) of the sequence of `seed`: Random(seed)'s n-th next().
constexpr uint64_t splitMixAt(uint64_t seed, uint64_t position) {
    return splitMix(seed + kSplitMixStep * (position + 1));
}

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() { return splitMix(state_ += kSplitMixStep); }
    // Uniform in 0 .. bound - 1; bound must be positive.
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>(next() % bound); }
    float uniform(float low, float high) {
        const double unit = static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
        return static_cast<float>(low + (high - low) * unit);
    }
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

}  // namespace mvmhost
