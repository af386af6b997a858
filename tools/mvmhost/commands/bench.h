// `mvmhost bench A [B]`: what a module's process routine costs per sample, for several kinds
// of input and block sizes. With B, paired: turns alternate A and B over the same inputs in
// this one process, so that a change can be held to the library before it (--fail-slower).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvmhost {

// The options as typed; benchCommand reads and checks them.
struct BenchArgs {
    std::string first, second;        // library files; `second` empty: A alone
    std::vector<std::string> blocks;  // --block, each a block size; none: 16, 64 and 1024
    std::string seconds;              // --seconds: the whole run's timed turns; empty: 3
    std::string json;                 // --json FILE; empty: none
    std::string failSlower;           // --fail-slower PCT; empty: not asked
    int32_t plugCount = -1;           // plugs the host makes; negative: as many as described
};

// Answers 0, or 1 when --fail-slower found B slower than A by more than PCT in some case;
// throws Error (2) for a bad option or a library that cannot be loaded or paired.
int benchCommand(const BenchArgs& args);

}  // namespace mvmhost
