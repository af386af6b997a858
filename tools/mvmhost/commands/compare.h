// `mvmhost compare`: two module libraries through the same seeded host session, every output
// sample compared bit for bit and every state announcement (plug, state, clock) in order.
// For guarding an optimisation or a release against the version before it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mvmhost {

constexpr int64_t kDefaultCompareSamples = 1000000;

struct CompareOptions {
    std::string first, second;     // library files
    std::optional<uint64_t> seed;  // none: a fresh one, printed
    int64_t samples = kDefaultCompareSamples;
    int32_t blockSize = 1024;
    int32_t plugCount = -1;  // plugs the host makes; negative: as many as described
};

// Answers 0 identical, 1 different (the first difference printed), and throws Error (2)
// when the libraries cannot be compared: not loadable, or plugs that differ.
int compareCommand(const CompareOptions& options);

}  // namespace mvmhost
