// The mixer as the host meets it, through the loaded library and the authors' test kit: every
// input it is given (the described one and the repeated ones, whose buffers it asked for at
// open), at the level its list's labels name, muted by data events and unmuted by the call it
// scheduled, against a plain sum worked out here, for several plug counts and random splits;
// and its output's stream state announced at every clock where muting changes it.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/mvmhost/kit/module_test_kit.h"
#include "tools/mvmhost/base/random.h"
#include "tools/mvmhost/contract/stimulus.h"

namespace mv {
namespace {

// The level list's items as a musician reads them; -inf is silence.
struct Level {
    const char* label;
    double db;
};
const Level kLevels[] = {
    {"-inf dB", -INFINITY}, {"-12 dB", -12}, {"-6 dB", -6}, {"-3 dB", -3}, {"0 dB", 0},
    {"+3 dB", 3},           {"+6 dB", 6}};
constexpr int32_t kLevelCount = sizeof kLevels / sizeof kLevels[0];
constexpr int32_t kDefaultLevel = 4;  // "0 dB"
constexpr int32_t kMixedInputs = 16;
constexpr int32_t kFirstInput = 2;

float gainOf(int32_t level) {
    return std::isinf(kLevels[level].db)
               ? 0.0f
               : static_cast<float>(std::pow(10.0, kLevels[level].db / 20.0));
}

TEST(Mixer, SumsEveryInputAtItsLevelUntilMuted) {
    const std::string library = std::string(MV_LIBRARY_DIR) + "/Mixer1.mvm";
    constexpr int32_t kSamples = 6000;
    // Plug counts: the described three, a few repeated inputs, and more than are mixed.
    for (const int32_t plugs : {3, 6, kFirstInput + kMixedInputs + 3}) {
        for (const uint64_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE("plugs " + std::to_string(plugs) + ", seed " + std::to_string(seed));
            mvmhost::Random random(seed * 1000 + static_cast<uint64_t>(plugs));
            kit::Options options;
            options.blockSize = 256;
            options.plugs = plugs;
            options.splitSeed = seed;
            kit::TestHost host(library, options);
            const std::vector<std::string> names = host.plugNames();
            ASSERT_EQ(names.size(), static_cast<size_t>(plugs));

            std::vector<std::vector<float>> inputs;
            for (int32_t p = kFirstInput; p < plugs; ++p) {
                std::vector<float> samples(kSamples);
                for (float& s : samples) s = random.uniform(-1.0f, 1.0f);
                inputs.push_back(samples);
                host.feed(names[static_cast<size_t>(p)], kit::Signal::samples(samples));
            }
            // The level from the default, "0 dB", changed now and then; mutes of random
            // lengths, a later one cutting an earlier one short or lengthening it.
            std::vector<int32_t> level(kSamples, kDefaultLevel), mutedUntil(kSamples, -1);
            for (int32_t at = 0; at < kSamples; at += 1 + static_cast<int32_t>(random.below(900))) {
                if (random.chance(50)) {
                    const int32_t value = static_cast<int32_t>(random.below(kLevelCount));
                    host.set("level@", kLevels[value].label, at);
                    for (int32_t t = at; t < kSamples; ++t) level[static_cast<size_t>(t)] = value;
                } else {
                    const int32_t length = static_cast<int32_t>(random.below(400));
                    host.dataEvent(at, length, 0);
                    for (int32_t t = at; t < kSamples; ++t)
                        mutedUntil[static_cast<size_t>(t)] = at + length;
                }
            }
            host.run(kSamples);

            const std::vector<float>& out = host.samples("out");
            ASSERT_EQ(out.size(), static_cast<size_t>(kSamples));
            const size_t mixed = std::min<size_t>(inputs.size(), kMixedInputs);
            auto muted = [&](int32_t t) { return t < mutedUntil[static_cast<size_t>(t)]; };
            for (int32_t t = 0; t < kSamples; ++t) {
                const size_t i = static_cast<size_t>(t);
                float sum = 0.0f;
                for (size_t k = 0; k < mixed; ++k) sum += inputs[k][i];
                const float gain = muted(t) ? 0.0f : gainOf(level[i]);
                const float want = gain == 0.0f ? 0.0f : sum * gain;  // silence is +0
                ASSERT_TRUE(mvmhost::sameSample(out[i], want))
                    << "sample " << t << ": " << out[i] << ", want " << want;
            }

            // Every input streams, so out streams unless muted, and says so where it changes:
            // the last word at a clock (the inputs' states come before a mute at clock 0).
            const std::vector<kit::Announcement>& told = host.announcements();
            std::vector<char> toldAt(kSamples, 0);
            for (size_t k = 0; k < told.size(); ++k) {
                const kit::Announcement& a = told[k];
                ASSERT_EQ(a.plug, "out") << a;
                ASSERT_EQ(a.from, a.at) << a;
                if (k + 1 < told.size() && told[k + 1].at == a.at) continue;
                ASSERT_EQ(a.state, muted(a.at) ? SingleChange : Streaming) << a;
                toldAt[static_cast<size_t>(a.at)] = 1;
            }
            for (int32_t t = 1; t < kSamples; ++t) {
                if (muted(t) != muted(t - 1)) {
                    ASSERT_TRUE(toldAt[static_cast<size_t>(t)]) << "nothing announced at " << t;
                }
            }
            EXPECT_EQ(host.lastState("out"), muted(kSamples - 1) ? SingleChange : Streaming);
            EXPECT_TRUE(host.requests().empty());
        }
    }
}

// Every kind of signal the kit feeds, each as its own form says, summed at 0 dB.
TEST(Mixer, MixesEveryKindOfSignalTheKitFeeds) {
    kit::Options options;
    options.plugs = 6;
    kit::TestHost host(std::string(MV_LIBRARY_DIR) + "/Mixer1.mvm", options);
    host.feed("in", kit::Signal::steps({{0, 0.125f}, {100, 0.375f}}));
    host.feed("in_3", kit::Signal::clock(10, kit::volts(5), 0.0f, 3));
    host.feed("in_4", kit::Signal::text("2.5"));
    host.feed("in_5", kit::Signal::text("steps:0,-5@150"));
    host.run(200);
    const std::vector<float>& out = host.samples("out");
    for (int32_t t = 0; t < 200; ++t) {
        const float clock = t >= 3 && (t - 3) % 10 < 5 ? 0.5f : 0.0f;
        float want = 0.0f;
        for (const float in : {t < 100 ? 0.125f : 0.375f, clock, 0.25f, t < 150 ? 0.0f : -0.5f})
            want += in;
        ASSERT_EQ(out[static_cast<size_t>(t)], want) << "sample " << t;
    }
    EXPECT_EQ(host.samples("in_3")[3], 0.5f);  // an input reads back as it was fed
    // The clock is told as streaming from the start, each step as a SingleChange at its clock,
    // and the mixer answers each with its output's state.
    const std::vector<kit::Announcement> want = {
        {0, "out", Streaming, 0}, {100, "out", Streaming, 100}, {150, "out", Streaming, 150}};
    EXPECT_EQ(host.announcements(), want);
    EXPECT_EQ(host.lastState("out"), Streaming);
}

// What the kit refuses, it names.
TEST(Mixer, TheKitNamesWhatItCannotDo) {
    kit::TestHost host(std::string(MV_LIBRARY_DIR) + "/Mixer1.mvm");
    EXPECT_THROW(host.feed("nosuch", kit::Signal::constant(0.5f)), kit::Failure);
    EXPECT_THROW(host.feed("level@", kit::Signal::constant(0.5f)), kit::Failure);
    EXPECT_THROW(host.set("level@", "-7 dB"), kit::Failure);
    host.dataEvent(100, 1, 0);
    host.feed("in", kit::Signal::samples(std::vector<float>(50)));
    try {
        host.run(80);
        FAIL() << "ran with an event past the end and too few samples";
    } catch (const kit::Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("in holds 50 samples"), std::string::npos)
            << failure.what();
    }
}

}  // namespace
}  // namespace mv
