// The benchmarks' input streams, the same in every benchmark and on every target: a clock of
// period 64, the busiest input (an edge every other sample), seeded noise and silence.
#pragma once

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace mv::bench {

constexpr int16_t kResetValue = 998;  // the highest item: counting runs long between resets

struct Inputs {
    const char* name;
    std::vector<float> up, zero, step;
};

inline std::vector<Inputs> makeCases(int32_t samples) {
    std::vector<Inputs> cases;
    auto add = [&](const char* name, auto sample) {
        Inputs in{name, std::vector<float>(samples), std::vector<float>(samples),
                  std::vector<float>(samples)};
        for (int32_t i = 0; i < samples; ++i) sample(i, in.up[i], in.zero[i], in.step[i]);
        cases.push_back(std::move(in));
    };
    add("clock64", [](int32_t i, float& up, float& zero, float& step) {
        up = i % 64 < 32 ? 1.0f : 0.0f;
        zero = 0.0f;
        step = 1.0f;
    });
    add("edge2", [](int32_t i, float& up, float& zero, float& step) {
        up = i % 2 ? 0.0f : 1.0f;
        zero = 0.0f;
        step = 1.0f;
    });
    std::mt19937 rng(20240607);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    add("noise", [&](int32_t, float& up, float& zero, float& step) {
        up = unit(rng);
        zero = unit(rng) < 0.02f ? 1.0f : 0.0f;
        step = unit(rng);
    });
    add("const0", [](int32_t, float& up, float& zero, float& step) { up = zero = step = 0.0f; });
    return cases;
}

}  // namespace mv::bench
