// What an output announced Static promises a host: the host stops processing it and holds its
// last value, so the value must not move. Held alike by the validator and the fuzzer.
//
// From kSettlingSamples after the last thing that concerns the module (a stream-state change,
// any other event, an opcode, a list value, an announcement of its own, open, or a step of an
// input the host does not stream) an output last announced Static, or never announced, keeps
// its value. Samples of a Streaming input change freely and restart nothing: a module whose
// output follows them must announce Streaming. SingleChange promises only that the host was
// told; Streaming promises nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mvmhost/contract/host_rules.h"

namespace mvmhost {

// The first output sample that broke the rule.
struct StaticBreach {
    int32_t plug = -1;
    int32_t clock = 0;
    float before = 0.0f, after = 0.0f;
    int32_t announcedAt = -1;  // the clock its Static took effect; -1: never announced
    int32_t sinceConcern = 0;  // samples since the last thing that concerned the module
};

class StaticRule {
public:
    explicit StaticRule(size_t plugs);

    // Open at `clock`: no output announced yet, every input Static.
    void open(int32_t clock);
    // Something that concerns the module happened at `clock`.
    void concern(int32_t clock);
    // An announcement made at the host's clock `hostClock` of `state` from `clock` on; one
    // dated before the host's clock counts from the host's (the clock itself is state-clocks').
    void announce(int32_t plug, int32_t state, int32_t clock, int32_t hostClock);
    // The stream state the host declared for an input.
    void inputState(int32_t plug, int32_t state);
    // Samples the host fed an input from `clock` on.
    void input(int32_t plug, const float* samples, int32_t count, int32_t clock);
    // Samples a Signal output held from `clock` on; false, with `breach` filled, at the first
    // that breaks the rule.
    bool output(int32_t plug, const float* samples, int32_t count, int32_t clock,
                StaticBreach* breach);
    // The plug's last sample is not the module's to answer for (another writer shared its buffer).
    void forget(int32_t plug);
    // Outputs' samples judged so far: those of outputs then Static, past the settling window.
    uint64_t judged() const { return judged_; }

private:
    struct Pending {
        int32_t plug, state, clock;
    };
    struct Plug {
        int32_t state = -1;  // last announced; -1 never
        int32_t since = -1;
        bool streamed = false;  // an input the host declared Streaming
        bool known = false;
        float last = 0.0f;
    };
    // Folds announcements taking effect at or before `clock` into the plugs.
    void settle(int32_t clock);

    std::vector<Plug> plugs_;
    std::vector<Pending> pending_;  // announcements for later clocks, in the order they came
    int32_t lastConcern_ = 0;
    uint64_t judged_ = 0;
};

// "out, announced Static from clock 12, changed at clock 40 from ... to ..., 28 samples after
// the last change that concerned the module".
std::string describeBreach(const StaticBreach& breach, const std::string& outputName);

}  // namespace mvmhost
