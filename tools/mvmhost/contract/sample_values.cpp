#include "tools/mvmhost/contract/sample_values.h"

#include <algorithm>
#include <cmath>

namespace mvmhost {
namespace {

constexpr int kSmallestExponent = -20;  // 2^-20
constexpr float kLargest = 16.0f;
// Long enough for a state halving every sample to fall from 1 through the denormals.
constexpr uint32_t kLongestHold = 400;
const float kCommonLevels[] = {0.0f, 0.333f, 0.5f, 1.0f, -1.0f, 0.1f, 0.25f};

}  // namespace

bool isOrdinaryInput(float value) {
    const float magnitude = std::fabs(value);
    return value == 0.0f ||
           (magnitude >= std::ldexp(1.0f, kSmallestExponent) && magnitude <= kLargest);
}

float ordinaryValue(Random& random) {
    if (random.chance(40))
        return kCommonLevels[random.below(sizeof kCommonLevels / sizeof *kCommonLevels)];
    // Log-uniform over the range: 2^-20 .. 2^4, either sign.
    const float mantissa = random.uniform(1.0f, 2.0f);
    const int exponent = kSmallestExponent + static_cast<int>(random.below(24));
    const float value = std::min(std::ldexp(mantissa, exponent), kLargest);
    return random.chance(50) ? value : -value;
}

void fillOrdinary(Random& random, float* samples, int32_t count) {
    int32_t i = 0;
    while (i < count) {
        const int32_t run =
            1 + static_cast<int32_t>(random.below(random.chance(30) ? kLongestHold : 24));
        const int32_t end = std::min(count, i + run);
        switch (random.below(3)) {
        case 0:
            std::fill(samples + i, samples + end, random.chance(50) ? 0.0f : ordinaryValue(random));
            break;
        case 1: {
            const float low = ordinaryValue(random), high = ordinaryValue(random);
            const int32_t period = 2 + static_cast<int32_t>(random.below(12));
            for (int32_t k = 0; i + k < end; ++k)
                samples[i + k] = (k % period) < period / 2 ? low : high;
            break;
        }
        default:
            for (int32_t k = i; k < end; ++k) samples[k] = ordinaryValue(random);
        }
        i = end;
    }
}

ValueHazard worstSample(const float* samples, int32_t count, int32_t* at) {
    ValueHazard worst = ValueHazard::None;
    for (int32_t i = 0; i < count; ++i) {
        const int kind = std::fpclassify(samples[i]);
        const ValueHazard hazard = kind == FP_NAN         ? ValueHazard::NaN
                                   : kind == FP_SUBNORMAL ? ValueHazard::Denormal
                                                          : ValueHazard::None;
        if (hazard > worst) {
            worst = hazard;
            *at = i;
            if (worst == ValueHazard::NaN) break;
        }
    }
    return worst;
}

const char* hazardName(ValueHazard hazard) {
    switch (hazard) {
    case ValueHazard::NaN:
        return "NaN";
    case ValueHazard::Denormal:
        return "a denormal";
    default:
        return "nothing odd";
    }
}

}  // namespace mvmhost
