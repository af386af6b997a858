// Signal sources from their texts: the samples, stream states and changes they produce, that
// any block of them equals the same stretch of a whole run, and the words for bad texts.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/signal_io/sample_writers.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {
namespace {

std::vector<float> firstSamples(SignalSource& source, int32_t first, int32_t count) {
    std::vector<float> out(static_cast<size_t>(count), -99.0f);
    source.fill(first, out.data(), count);
    return out;
}

// What `attempt` throws says `message`.
void expectRefused(const std::function<void()>& attempt, const char* message) {
    try {
        attempt();
        ADD_FAILURE() << "accepted";
    } catch (const Error& failure) {
        EXPECT_NE(std::string(failure.what()).find(message), std::string::npos) << failure.what();
    }
}

struct Generators : ::testing::Test {};

TEST_F(Generators, SamplesStatesAndChanges) {
    const float h = 0.5f, v1 = 0.1f;
    const struct {
        const char* text;
        std::vector<float> samples;
        mv::StreamState state;
        std::vector<int32_t> changes;
    } rows[] = {
        {"5", {h, h, h}, mv::Static, {}},
        {"5V", {h, h}, mv::Static, {}},
        {"-2.5 V", {-0.25f}, mv::Static, {}},
        {"const:1", {v1, v1}, mv::Static, {}},
        {"clock:period=4", {h, h, 0, 0, h, h, 0, 0}, mv::Streaming, {}},
        {"clock:period=4,delay=1,high=10,low=-10", {-1, 1, 1, -1, -1, 1}, mv::Streaming, {}},
        {"clock:period=4,duty=0.25", {h, 0, 0, 0, h}, mv::Streaming, {}},
        {"clock:period=2,duty=0.01",
         {h, 0, h, 0},
         mv::Streaming,
         {}},  // never shorter than a sample
        {"clock:hz=11025", {h, h, 0, 0, h, h, 0, 0}, mv::Streaming, {}},  // 4 samples at 44100 Hz
        {"clock:bpm=441000,delay=0.1ms",
         {0, 0, 0, 0, h, h, h, 0, 0, 0, h},
         mv::Streaming,
         {}},                                                           // 6 samples
        {"clock:period=0.1ms", {h, h, 0, 0, h, h}, mv::Streaming, {}},  // 4.41: 4 samples
        {"steps:0,5@0.05ms,0@4", {0, 0, h, h, 0}, mv::Static, {2, 4}},  // 2.205: sample 2
        {"ramp:period=4,from=0,to=8", {0, 0.2f, 0.4f, 0.6f, 0}, mv::Streaming, {}},
        {"steps:0,5@2,0@4", {0, 0, h, h, 0, 0}, mv::Static, {2, 4}},
        {"steps:1,1@3,2@5", {v1, v1, v1, v1, v1, 0.2f}, mv::Static, {5}},  // no change, no event
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto source = makeSource(row.text, "in");
        EXPECT_EQ(firstSamples(*source, 0, static_cast<int32_t>(row.samples.size())), row.samples);
        EXPECT_EQ(source->initialState(), row.state);
        EXPECT_EQ(source->changeClocks(), row.changes);
        EXPECT_EQ(source->length(), -1);
    }
}

TEST_F(Generators, AnyBlockIsThatStretchOfTheWholeRun) {
    for (const char* text : {"clock:period=7,duty=0.3,delay=5", "ramp:period=13,from=-5,to=5",
                             "noise:seed=3", "noise:seed=4,min=0,max=1", "steps:0,1@9,2@40,3@41"}) {
        SCOPED_TRACE(text);
        const auto source = makeSource(text, "in");
        const std::vector<float> whole = firstSamples(*source, 0, 100);
        for (int32_t first : {0, 1, 9, 40, 63})
            EXPECT_EQ(firstSamples(*source, first, 20),
                      std::vector<float>(whole.begin() + first, whole.begin() + first + 20))
                << first;
    }
}

// A clock given in Hz or BPM rises on the sample nearest each cycle's exact time, here worked
// out in integers: num / den samples per cycle, however far into a long render.
TEST_F(Generators, ClocksInHzAndBpmDoNotDrift) {
    const struct {
        const char* text;
        int64_t num, den;  // the exact period in samples at 44100 Hz
    } rows[] = {
        {"clock:bpm=128", 165375, 8},      // 20671.875
        {"clock:hz=440.1", 441000, 4401},  // 100.2045...
        {"clock:hz=3,duty=0.1", 14700, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        auto source = makeSource(row.text, "in", 44100);
        int64_t checked = 0;
        for (int64_t n = 1; n * row.num / row.den < INT32_MAX - 2; n = n * 3 / 2 + 1, ++checked) {
            const int64_t edge = (2 * n * row.num + row.den) / (2 * row.den);  // nearest, halves up
            const std::vector<float> around =
                firstSamples(*source, static_cast<int32_t>(edge - 1), 2);
            ASSERT_EQ(around, (std::vector<float>{0, 0.5f}))
                << "cycle " << n << ", sample " << edge;
        }
        EXPECT_GT(checked, 20);
    }
}

TEST_F(Generators, NoiseIsTheSameForASeedAndStaysInItsRange) {
    const auto a = firstSamples(*makeSource("noise:seed=1,min=-2,max=3", "in"), 0, 5000);
    EXPECT_EQ(a, firstSamples(*makeSource("noise:seed=1,min=-2,max=3", "in"), 0, 5000));
    EXPECT_NE(a, firstSamples(*makeSource("noise:seed=2,min=-2,max=3", "in"), 0, 5000));
    const auto [low, high] = std::minmax_element(a.begin(), a.end());
    EXPECT_GE(*low, -0.2f);
    EXPECT_LT(*high, 0.3f);
    EXPECT_LT(*low, -0.19f);  // it does spread over the range
    EXPECT_GT(*high, 0.29f);
}

TEST_F(Generators, BadTextsSayWhatIsWrong) {
    const struct {
        const char* text;
        const char* message;
    } rows[] = {
        {"wobble", "neither a level, a generator"},
        {"const:x", "const: 'x' is not a level"},
        {"clock:", "clock: give period=N"},
        {"clock:period=1", "period=1: a clock period needs at least 2 samples"},
        {"clock:period=0.02ms",
         "period=0.02ms (1 sample at 44100 Hz): a clock period needs at least 2"},
        {"clock:period=2.5", "period=2.5: give a sample count or a time (10s, 250ms, 2:30)"},
        {"clock:period=4,period=5", "clock: period= is given twice"},
        {"clock:period=4,hz=5", "clock: give one of period=, hz= and bpm="},
        {"clock:hz=30000", "hz=30000 is faster than half the sample rate (44100 Hz)"},
        {"clock:bpm=0", "bpm=0: give a positive number"},
        {"clock:period=4,high=1e40", "high=1e40 is beyond the range of a float sample"},
        {"noise:seed=18446744073709551616",
         "a seed is a whole number from 0 to 18446744073709551615"},
        {"noise:seed=-1", "a seed is a whole number from 0"},
        {"clock:period=4,duty=1", "duty=1 must lie between 0 and 1"},
        {"clock:period=4,perid=3", "'perid=3' is not one of period=, hz=, bpm=, duty="},
        {"clock:period=4,high=loud", "high=loud is not a level in volts"},
        {"ramp:from=1", "ramp: give period=N"},
        {"noise:min=1", "noise: give seed=N"},
        {"noise:seed=1,min=5,max=-5", "noise: min=5 is above max=-5"},
        {"steps:", "steps: '' is not LEVEL or LEVEL@SAMPLE"},
        {"steps:1@3", "the first level starts at sample 0"},
        {"steps:0,1@5,2@5", "every later one after the one before"},
        {"steps:0,1@x", "steps: 1@x: give a sample count or a time"},
        {"1e40", "1e40 V is beyond the range of a float sample"},
        {"5 V V", "neither a level"},
        {"nan", "neither a level"},
        {"+-5", "neither a level"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        expectRefused([&] { makeSource(row.text, "in"); }, row.message);
    }
}

struct FileSources : ::testing::Test {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "mvmhost-sources-test";
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string file(const char* name, const char* text) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(FileSources, CsvColumnsByPlugNameNameOrNumber) {
    const std::string two = file("two.csv", "upCOUNT,bySTEP\n0,0.1\n0.5,0.2\n");
    const std::string one = file("one.csv", "anything\n0.25\n");
    const struct {
        std::string text;
        std::vector<float> samples;
    } rows[] = {
        {two, {0, 0.5f}},  // the plug's own column
        {two + "#bySTEP", {0.1f, 0.2f}},
        {two + "#2", {0.1f, 0.2f}},
        {one, {0.25f}},  // a file of one column feeds any plug
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto source = makeSource(row.text, "upCOUNT");
        EXPECT_EQ(source->length(), static_cast<int64_t>(row.samples.size()));
        EXPECT_EQ(firstSamples(*source, 0, static_cast<int32_t>(row.samples.size())), row.samples);
        EXPECT_EQ(source->initialState(), mv::Streaming);
    }
    EXPECT_THROW(makeSource(two, "upZERO"), Error);
    EXPECT_THROW(makeSource(two + "#3", "upCOUNT"), Error);
    EXPECT_THROW(makeSource((dir / "none.csv").string(), "upCOUNT"), Error);
}

TEST_F(FileSources, AudioFilesReadBackWhatWasWritten) {
    if (!audioFilesSupported()) GTEST_SKIP() << "this build reads CSV files only";
    const std::string path = (dir / "two.wav").string();
    const float a[] = {0.0f, 0.5f, -0.25f, 1e-7f}, b[] = {0.1f, 0.2f, 0.3f, 0.4f};
    const float* columns[] = {a, b};
    auto writer = openSampleWriter(path, {"a", "b"}, 48000, 4);
    writer->write(columns, 4);
    writer->finish();
    const auto second = makeSource(path + "#2", "x");
    EXPECT_EQ(second->sampleRate(), 48000);
    EXPECT_EQ(firstSamples(*second, 0, 4), std::vector<float>(b, b + 4));
    EXPECT_EQ(firstSamples(*makeSource(path, "x"), 0, 4), std::vector<float>(a, a + 4));
    EXPECT_THROW(makeSource(path + "#3", "x"), Error);
}

// Audio files libsndfile cannot take, said in this host's words rather than the library's.
TEST_F(FileSources, AudioFilesThatCannotBeUsedSaySo) {
    if (!audioFilesSupported()) GTEST_SKIP() << "this build reads CSV files only";
    // A 16-bit mono WAV of 3 samples whose header says 0 Hz.
    const char rateZero[] =
        "RIFF\x2a\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\0\0\0\0\0\0\0\0\x02\0\x10\0"
        "data\x06\0\0\0\0\0\x64\0\xc8\0";
    const struct {
        std::string path;
        const char* message;
    } rows[] = {
        {file("empty.wav", ""), "the file is empty"},
        {file("tag.wav", "RIFF"), "not an audio file this host reads"},
        {(std::ofstream((dir / "rate0.wav").string(), std::ios::binary)
              .write(rateZero, sizeof rateZero - 1),
          (dir / "rate0.wav").string()),
         "its header gives no sample rate or no channels"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        expectRefused([&] { makeSource(row.path, "x"); }, row.message);
    }
    expectRefused(
        [&] {
            openSampleWriter((dir / "wide.wav").string(), std::vector<std::string>(4096, "x"),
                             44100, 1);
        },
        "at most 1024 channels, not 4096");
}

}  // namespace
}  // namespace mvmhost
