// One chunk of the fuzzer: a seeded sequence of host actions on a few interleaved instances,
// with the invariants a host relies on looked at after every action.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tools/mvmhost/runtime/module_library.h"

namespace mvmhost {

// What a chunk leaves behind: its last actions and, on a finding, what fired. A plain record
// of fixed size, so that it can live in memory a parent process reads after the child died,
// and be written without allocating.
struct ChunkJournal {
    static constexpr size_t kLines = 24;
    static constexpr size_t kLineBytes = 240;
    static constexpr size_t kFiredBytes = 480;

    uint64_t actions = 0;  // action n is in line n % kLines
    char lines[kLines][kLineBytes] = {};
    char fired[kFiredBytes] = {};  // empty unless an invariant failed
    // Under --strict, invariants that failed on an instance that was given more than a host
    // promises: only a crash or a hang is a finding there.
    uint64_t warnings = 0;
    char firstWarning[kFiredBytes] = {};

    void begin();
    void noteAction(const char* text);
    void noteFinding(const char* text);
    void noteWarning(const char* text);
    // The last actions, oldest first, each line indented by `indent`.
    void printTail(std::FILE* out, const char* indent) const;
};

// Runs the chunk of this seed; false when an invariant failed (journal.fired tells which).
// `trace`, when not null, gets every action as it runs. `plugCount` is the host's answer to
// request 14; negative: as many plugs as the module describes.
bool runChunk(const EntryPoints& entries, uint64_t seed, bool strict, ChunkJournal& journal,
              std::FILE* trace, int32_t plugCount = -1);

}  // namespace mvmhost
