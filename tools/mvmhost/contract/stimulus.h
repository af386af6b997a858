// Repeatable random material for the checks: input signals full of awkward values, and ways
// to cut a block into stretches. The same seed gives the same numbers on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mvmhost/base/random.h"

namespace mvmhost {

// Fills `samples` with a signal made of runs: square waves between common levels and
// thresholds (0, 0.333 and its neighbours, 0.5, 1.0, ...), constants, noise, and now and then
// NaN, infinities, denormals and extremes.
void fillSignal(Random& random, float* samples, int32_t count);

// Cuts `count` samples into stretches of 0, 1, 2, ... samples, small ones favoured; the
// lengths add up to `count`.
std::vector<int32_t> randomSplit(Random& random, int32_t count);

// Equal when the bits are equal or both are NaN: a module may compute any NaN.
bool sameSample(float a, float b);

// A run of host stimuli that keeps the host's promises about stream states: an input is held
// while Static, steps once at a SingleChange and varies only while Streaming. The run is cut
// into segments; at the start of each, several inputs move at once (one streaming while
// another is held high, held low or steps) and list values change. A streaming input comes to
// rest now and then, and some segments are long, so that an output left still shows it.
struct StateStimuli {
    // What one input does through one segment.
    struct Course {
        bool streaming = false;
        float level = 0.0f;  // held while not streaming; where a streaming run comes to rest
    };
    struct Change {
        int32_t clock;
        int32_t input;      // signal inputs first, then the lists
        int32_t state;      // the stream state delivered for it
        int32_t listValue;  // for a list: the value written before the event
    };
    std::vector<std::vector<float>> samples;  // by signal input, one per clock
    std::vector<Change> changes;  // in clock order, delivered before that clock's sample
    std::vector<int32_t> segmentStarts;
    std::vector<std::vector<Course>> courses;      // by segment, by signal input
    std::vector<std::vector<int32_t>> listValues;  // by segment, by list
    int32_t clocks = 0;                            // samples the run lasts

    int32_t length() const { return clocks; }
    size_t segmentAt(int32_t clock) const;
    // What the inputs did in the segment holding `clock`: "in held at 0.5, gate streaming".
    std::string describeInputs(int32_t clock, const std::vector<std::string>& signalNames,
                               const std::vector<std::string>& listNames) const;
};

// `startLevels`: what each signal input holds at open; `listChoices`: the values each list
// plug may take, its first the value it holds at open.
StateStimuli makeStateStimuli(Random& random, const std::vector<float>& startLevels,
                              const std::vector<std::vector<int32_t>>& listChoices, int32_t length);

}  // namespace mvmhost
