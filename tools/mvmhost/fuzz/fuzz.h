// mvmhost fuzz: seeded random sequences of host actions against any module library, with the
// validator's invariants looked at after every action. The work is cut into chunks, each one
// seed, each run in a child process where the platform can fork, so that a crash or a hang
// is a finding like any other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mvmhost {

struct FuzzOptions {
    std::string library;
    std::optional<uint64_t> seed;    // the first chunk's seed; none: a fresh one, printed
    std::optional<uint64_t> chunks;  // how many chunks; none: kDefaultChunks, or until --duration
    std::optional<double> duration;  // seconds after which no chunk starts
    int jobs = 1;                    // chunks running at once
    std::optional<uint64_t> reproduce;  // run this one chunk here, in this process
    bool strict = false;                // also go beyond what a host promises
    bool verbose = false;               // with --reproduce: print every action as it runs
    int32_t plugCount = -1;             // plugs the host makes; negative: as many as described
};

constexpr uint64_t kDefaultChunks = 500;

// Answers the exit status: 0 nothing found, 1 a finding, 2 cannot run (Error thrown),
// 130 interrupted without a finding.
int fuzzCommand(const FuzzOptions& options);

}  // namespace mvmhost
