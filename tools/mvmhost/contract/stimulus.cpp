#include "tools/mvmhost/contract/stimulus.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "host/stream_state.h"
#include "tools/mvmhost/base/sample_bits.h"

namespace mvmhost {
namespace {

// Levels a module is likely to compare with.
const float kLevels[] = {0.0f, -0.0f, 0.333f, 0.3329999f, 0.3330001f, 0.1f,  0.5f,
                         1.0f, -1.0f, 0.25f,  0.999f,     1.5f,       -0.5f, 10.0f};

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
            case 0:
                samples[i] = (k % period) < period / 2 ? low : high;
                break;  // square wave
            case 1:
                samples[i] = low;
                break;
            case 2:
                samples[i] = random.uniform(-1.5f, 1.5f);
                break;
            default:
                samples[i] = random.chance(50) ? level(random) : random.uniform(0.3f, 0.36f);
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
        case 0:
            n = 0;
            break;
        case 1:
            n = 1;
            break;
        case 2:
            n = 2;
            break;
        case 3:
            n = 3 + static_cast<int32_t>(random.below(8));
            break;
        case 4:
            n = 1 + static_cast<int32_t>(random.below(64));
            break;
        default:
            n = 1 + static_cast<int32_t>(random.below(static_cast<uint32_t>(left)));
            break;
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

namespace {

// Levels an input is held at: low, high and in between, for modules that compare with a
// threshold somewhere.
const float kLowLevels[] = {0.0f, -0.5f, 0.1f};
const float kHighLevels[] = {0.5f, 1.0f, 0.9f};
const float kOtherLevels[] = {0.333f, 0.3329999f, 0.25f, 4.0f};

template <size_t N>
float pick(Random& random, const float (&levels)[N]) {
    return levels[random.below(N)];
}

int32_t segmentLength(Random& random) {
    const uint32_t roll = random.below(100);
    if (roll < 30) return 1 + static_cast<int32_t>(random.below(8));
    if (roll < 70) return 9 + static_cast<int32_t>(random.below(56));
    return 65 + static_cast<int32_t>(random.below(336));
}

}  // namespace

size_t StateStimuli::segmentAt(int32_t clock) const {
    const auto after = std::upper_bound(segmentStarts.begin(), segmentStarts.end(), clock);
    return static_cast<size_t>(after - segmentStarts.begin()) - 1;
}

std::string StateStimuli::describeInputs(int32_t clock, const std::vector<std::string>& signalNames,
                                         const std::vector<std::string>& listNames) const {
    const size_t segment = segmentAt(clock);
    std::ostringstream text;
    for (size_t i = 0; i < signalNames.size(); ++i) {
        const Course& course = courses[segment][i];
        text << (i ? ", " : "") << signalNames[i];
        if (course.streaming)
            text << " streaming";
        else
            text << " held at " << course.level;
    }
    for (size_t l = 0; l < listNames.size(); ++l)
        text << (signalNames.empty() && l == 0 ? "" : ", ") << listNames[l] << " at "
             << listValues[segment][l];
    return text.str();
}

StateStimuli makeStateStimuli(Random& random, const std::vector<float>& startLevels,
                              const std::vector<std::vector<int32_t>>& listChoices,
                              int32_t length) {
    StateStimuli s;
    const size_t inputs = startLevels.size(), lists = listChoices.size();
    s.samples.assign(inputs, std::vector<float>(static_cast<size_t>(length)));
    s.clocks = length;
    std::vector<StateStimuli::Course> now(inputs);
    for (size_t i = 0; i < inputs; ++i) now[i].level = startLevels[i];
    std::vector<int32_t> listNow;
    for (const std::vector<int32_t>& choices : listChoices)
        listNow.push_back(choices.empty() ? 0 : choices[0]);

    // The first segment keeps what open left: every input Static at its start level.
    for (int32_t start = 0; start < length;) {
        const int32_t end = std::min(length, start + segmentLength(random));
        if (start > 0) {
            for (size_t i = 0; i < inputs; ++i) {
                StateStimuli::Course next = now[i];
                const uint32_t roll = random.below(100);
                if (roll < 35) {  // as it was; now and then the host repeats the state it declared
                    if (random.chance(10))
                        s.changes.push_back({start, static_cast<int32_t>(i),
                                             now[i].streaming ? mv::Streaming : mv::Static, 0});
                    continue;
                }
                next.streaming = roll >= 75;
                if (!next.streaming)
                    next.level = roll < 50   ? pick(random, kLowLevels)
                                 : roll < 65 ? pick(random, kHighLevels)
                                             : pick(random, kOtherLevels);
                int32_t state = next.streaming     ? mv::Streaming
                                : now[i].streaming ? mv::Static
                                                   : mv::SingleChange;
                if (state == mv::SingleChange && sameSample(next.level, now[i].level))
                    state = mv::Static;
                // A streaming input comes to rest on the level it is then held at, so that a held
                // input steps only where a SingleChange says so.
                if (now[i].streaming && !next.streaming) {
                    const int32_t rest = std::max(
                        s.segmentStarts.back(), start - 1 - static_cast<int32_t>(random.below(64)));
                    std::fill(s.samples[i].begin() + rest, s.samples[i].begin() + start,
                              next.level);
                }
                s.changes.push_back({start, static_cast<int32_t>(i), state, 0});
                now[i] = next;
            }
            for (size_t l = 0; l < lists; ++l) {
                if (listChoices[l].size() < 2 || !random.chance(15)) continue;
                listNow[l] =
                    listChoices[l][random.below(static_cast<uint32_t>(listChoices[l].size()))];
                s.changes.push_back(
                    {start, static_cast<int32_t>(inputs + l), mv::SingleChange, listNow[l]});
            }
        }
        s.segmentStarts.push_back(start);
        s.courses.push_back(now);
        s.listValues.push_back(listNow);
        for (size_t i = 0; i < inputs; ++i) {
            float* samples = s.samples[i].data() + start;
            const int32_t count = end - start;
            if (!now[i].streaming) {
                std::fill_n(samples, count, now[i].level);
                continue;
            }
            fillSignal(random, samples, count);
            // Now and then a streaming input rests for a while without a word.
            if (random.chance(40)) {
                const int32_t moving =
                    1 + static_cast<int32_t>(random.below(static_cast<uint32_t>(count)));
                std::fill(samples + moving, samples + count, samples[moving - 1]);
            }
        }
        start = end;
    }
    return s;
}

}  // namespace mvmhost
