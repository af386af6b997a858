#include "tools/mvmhost/check/stimulus.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "tools/mvmhost/sample_bits.h"

namespace mvmhost {
namespace {

// Levels a module is likely to compare with.
const float kLevels[] = {0.0f, -0.0f, 0.333f, 0.3329999f, 0.3330001f, 0.1f, 0.5f, 1.0f,
                         -1.0f, 0.25f, 0.999f, 1.5f, -0.5f, 10.0f};

float special(Random& random) {
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                            fromBits(0xFFC00001u),  // a negative NaN with a payload
                            inf,
                            -inf,
                            fromBits(0x00000001u),  // the smallest denormal
                            fromBits(0x80400000u),  // a negative denormal
                            std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max()};
    return values[random.below(sizeof values / sizeof values[0])];
}

float level(Random& random) { return kLevels[random.below(sizeof kLevels / sizeof kLevels[0])]; }

}  // namespace

uint64_t Random::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

float Random::uniform(float low, float high) {
    const double unit = static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
    return static_cast<float>(low + (high - low) * unit);
}

void fillSignal(Random& random, float* samples, int32_t count) {
    int32_t i = 0;
    while (i < count) {
        const int32_t run = 1 + static_cast<int32_t>(random.below(random.chance(20) ? 400 : 40));
        const int32_t end = run < count - i ? i + run : count;
        const uint32_t kind = random.below(4);
        const float low = level(random), high = level(random);
        const int32_t period = 2 + static_cast<int32_t>(random.below(12));
        for (int32_t k = 0; i < end; ++i, ++k) {
            switch (kind) {
            case 0: samples[i] = (k % period) < period / 2 ? low : high; break;  // square wave
            case 1: samples[i] = low; break;
            case 2: samples[i] = random.uniform(-1.5f, 1.5f); break;
            default: samples[i] = random.chance(50) ? level(random) : random.uniform(0.3f, 0.36f);
            }
            if (random.chance(2)) samples[i] = special(random);
        }
    }
}

std::vector<int32_t> randomSplit(Random& random, int32_t count) {
    std::vector<int32_t> lengths;
    int32_t left = count;
    while (left > 0) {
        int32_t n;
        switch (random.below(6)) {
        case 0: n = 0; break;
        case 1: n = 1; break;
        case 2: n = 2; break;
        case 3: n = 3 + static_cast<int32_t>(random.below(8)); break;
        case 4: n = 1 + static_cast<int32_t>(random.below(64)); break;
        default: n = 1 + static_cast<int32_t>(random.below(static_cast<uint32_t>(left))); break;
        }
        if (n > left) n = left;
        lengths.push_back(n);
        left -= n;
    }
    return lengths;
}

bool sameSample(float a, float b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace mvmhost
