// The mixer as the host meets it, through the loaded library: every input it is given (the
// described one and the repeated ones, whose buffers it asked for at open), at the level its
// list's labels name, muted by data events and unmuted by the call it scheduled, against a
// plain sum worked out here, for several plug counts and random splits.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/runtime/render_loop.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {
namespace {

// The level list's items as a musician reads them, in dB by value; -inf is silence.
const double kLevelDb[] = {-INFINITY, -12, -6, -3, 0, 3, 6};
constexpr int32_t kMixedInputs = 16;
constexpr int32_t kFirstInput = 2;

struct Capture : BlockSink {
    void take(const HostedModule& host, int32_t, int32_t count) override {
        out.insert(out.end(), host.buffer(0), host.buffer(0) + count);
    }
    std::vector<float> out;
};

float gainOf(int32_t level) {
    return std::isinf(kLevelDb[level]) ? 0.0f
                                       : static_cast<float>(std::pow(10.0, kLevelDb[level] / 20.0));
}

TEST(Mixer, SumsEveryInputAtItsLevelUntilMuted) {
    const ModuleLibrary library(std::string(MV_LIBRARY_DIR) + "/Mixer1.mvm");
    constexpr int32_t kSamples = 6000;
    // Plug counts: the described three, a few repeated inputs, and more than are mixed.
    for (const int32_t plugs : {3, 6, kFirstInput + kMixedInputs + 3}) {
        for (const uint64_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE("plugs " + std::to_string(plugs) + ", seed " + std::to_string(seed));
            Random random(seed * 1000 + static_cast<uint64_t>(plugs));
            HostSettings settings;
            settings.blockSize = 256;
            settings.plugCount = plugs;
            HostedModule host(library.entries(), settings);
            ASSERT_EQ(host.plugs().size(), static_cast<size_t>(plugs));
            host.open();

            RenderJob job;
            job.samples = kSamples;
            job.splitSeed = seed;
            std::vector<std::vector<float>> inputs;
            std::vector<std::unique_ptr<SignalSource>> sources;
            for (int32_t p = kFirstInput; p < plugs; ++p) {
                std::vector<float> samples(kSamples);
                for (float& s : samples) s = random.uniform(-1.0f, 1.0f);
                inputs.push_back(samples);
                sources.push_back(samplesSource(samples));
                job.feeds.push_back({p, sources.back().get()});
            }
            // The level from the default, "0 dB", changed now and then; mutes of random
            // lengths, a later one cutting an earlier one short or lengthening it.
            std::vector<int32_t> level(kSamples, 4), mutedUntil(kSamples, -1);
            for (int32_t at = 0; at < kSamples; at += 1 + static_cast<int32_t>(random.below(900))) {
                if (random.chance(50)) {
                    const int32_t value = static_cast<int32_t>(random.below(7));
                    job.changes.push_back({at, 1, ScheduledChange::ListValue, value});
                    for (int32_t t = at; t < kSamples; ++t) level[static_cast<size_t>(t)] = value;
                } else {
                    const int32_t length = static_cast<int32_t>(random.below(400));
                    ScheduledChange mute{at, 0, ScheduledChange::Event, 0};
                    mute.event = {at, mv::DataEvent, length, 0, 0, 0};
                    job.changes.push_back(mute);
                    for (int32_t t = at; t < kSamples; ++t)
                        mutedUntil[static_cast<size_t>(t)] = at + length;
                }
            }
            Capture capture;
            runBlocks(host, job, capture);

            ASSERT_EQ(capture.out.size(), static_cast<size_t>(kSamples));
            const size_t mixed = std::min<size_t>(inputs.size(), kMixedInputs);
            for (int32_t t = 0; t < kSamples; ++t) {
                const size_t i = static_cast<size_t>(t);
                float sum = 0.0f;
                for (size_t k = 0; k < mixed; ++k) sum += inputs[k][i];
                const float gain = t < mutedUntil[i] ? 0.0f : gainOf(level[i]);
                const float want = gain == 0.0f ? 0.0f : sum * gain;  // silence is +0
                ASSERT_TRUE(sameSample(capture.out[i], want))
                    << "sample " << t << ": " << capture.out[i] << ", want " << want;
            }
        }
    }
}

}  // namespace
}  // namespace mvmhost
