// The running loop: where it cuts blocks into process calls, when changes and posted routines
// reach the module, and that no split of a render changes what the module computes.
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/exports.h"
#include "tests/tools/mvmhost/runtime/probe_module.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/runtime/render_loop.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mvmhost {
namespace {

using test::ProbePlug;

constexpr ProbePlug kIn{"in", mv::PlugInput, mv::Signal};
constexpr ProbePlug kOut{"out", mv::PlugOutput, mv::Signal};

// Every block of the given plugs, end to end.
struct Capture : BlockSink {
    explicit Capture(std::vector<int32_t> plugs)
        : plugs(std::move(plugs)), signals(this->plugs.size()) {}
    void take(const HostedModule& host, int32_t, int32_t count) override {
        for (size_t c = 0; c < plugs.size(); ++c)
            signals[c].insert(signals[c].end(), host.buffer(plugs[c]),
                              host.buffer(plugs[c]) + count);
    }
    std::vector<int32_t> plugs;
    std::vector<std::vector<float>> signals;
};

std::vector<float> rampOf(int32_t samples) {
    std::vector<float> ramp(static_cast<size_t>(samples));
    std::iota(ramp.begin(), ramp.end(), 0.0f);
    return ramp;
}

struct RenderLoopTest : ::testing::Test {
    void SetUp() override {
        test::probeSetup = {};
        test::probeSetup.plugs = {kIn, kOut};
        test::probeLog.clear();
        test::probeEventValues.clear();
    }
    // Runs the probe with its input fed a ramp (sample n holds n) and answers its output.
    std::vector<float> run(int32_t block, int32_t samples, std::vector<ScheduledChange> changes,
                           std::optional<uint64_t> seed = std::nullopt) {
        HostSettings settings;
        settings.blockSize = block;
        HostedModule host(test::probeEntries(), settings);
        host.open();
        const auto ramp = samplesSource(rampOf(samples));
        RenderJob job{samples, {{0, ramp.get()}}, std::move(changes), seed};
        Capture capture({1});
        runBlocks(host, job, capture);
        return capture.signals[0];
    }
    static std::string joined(const std::vector<std::string>& log) {
        std::string s;
        for (const std::string& e : log) s += (s.empty() ? "" : " ") + e;
        return s;
    }
};

ScheduledChange state(int32_t clock, int32_t value) {
    return {clock, 0, ScheduledChange::StreamState, value};
}

struct StretchCuts : RenderLoopTest {};

TEST_F(StretchCuts, EveryChangeSplitsItsBlockAndSeesItsOwnSample) {
    const struct {
        const char* what;
        int32_t block, samples;
        std::vector<ScheduledChange> changes;
        const char* calls;
    } rows[] = {
        {"none", 8, 20, {}, "p0+8 p8+8 p16+4"},
        {"inside blocks",
         8,
         20,
         {state(3, 2), state(19, 0)},
         "p0+3 e3:0=2 p3+5 p8+8 p16+3 e19:0=0 p19+1"},
        {"on block starts",
         8,
         20,
         {state(0, 2), state(8, 1), state(16, 0)},
         "e0:0=2 p0+8 e8:0=1 p8+8 e16:0=0 p16+4"},
        {"two at one sample", 8, 12, {state(5, 2), state(5, 1)}, "p0+5 e5:0=2 e5:0=1 p5+3 p8+4"},
        {"given out of order",
         4,
         8,
         {state(6, 1), state(1, 2)},
         "p0+1 e1:0=2 p1+3 p4+2 e6:0=1 p6+2"},
        {"one-sample blocks", 1, 3, {state(1, 2)}, "p0+1 e1:0=2 p1+1 p2+1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        const std::vector<float> out = run(row.block, row.samples, row.changes);
        EXPECT_EQ(joined(test::probeLog), row.calls);
        EXPECT_EQ(out, rampOf(row.samples));
        // Read through requests 8 and 3 while the event is delivered: the sample at its clock.
        std::vector<float> clocks;
        for (const auto& c : row.changes) clocks.push_back(static_cast<float>(c.clock));
        std::sort(clocks.begin(), clocks.end());
        EXPECT_EQ(test::probeEventValues, clocks);
    }
}

TEST_F(StretchCuts, ListChangesAreWrittenAndToldAsSingleChanges) {
    test::probeSetup.plugs = {kIn, {"sel", mv::PlugInput, mv::Enumerated}, kOut};
    HostSettings settings;
    settings.blockSize = 8;
    HostedModule host(test::probeEntries(), settings);
    host.open();
    const auto zero = constantSource(0.0f);
    auto& probe =
        *static_cast<test::ProbeModule*>(static_cast<mv::ModuleBase*>(host.record()->instance));
    int16_t seenAtProcess = -1;
    RenderJob job{12, {{0, zero.get()}}, {{10, 1, ScheduledChange::ListValue, 1}}, std::nullopt};
    struct Watch : BlockSink {
        void take(const HostedModule&, int32_t, int32_t) override {}
    } watch;
    runBlocks(host, job, watch);
    seenAtProcess = probe.slots[1].list;
    EXPECT_EQ(joined(test::probeLog), "p0+8 p8+2 e10:1=1 p10+2");
    EXPECT_EQ(seenAtProcess, 1);
}

struct RandomSplits : RenderLoopTest {};

TEST_F(RandomSplits, CallsTileEachBlockAndLeaveTheOutputAlone) {
    const int32_t block = 16, samples = 100;
    const std::vector<ScheduledChange> changes = {state(5, 2), state(37, 1), state(64, 0)};
    bool sawEmptyCall = false, sawSplitBlock = false;
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        SetUp();
        EXPECT_EQ(run(block, samples, changes, seed), rampOf(samples));
        int32_t end = 0, calls = 0;
        std::vector<int32_t> eventClocks;
        for (const std::string& entry : test::probeLog) {
            std::istringstream in(entry.substr(1));
            int32_t clock = 0, count = 0;
            char sep;
            in >> clock;
            if (entry[0] == 'e') {
                EXPECT_EQ(clock, end) << "an event must come between calls, at its own sample";
                eventClocks.push_back(clock);
                continue;
            }
            in >> sep >> count;
            EXPECT_EQ(clock, end) << entry;
            if (count > 0) {
                EXPECT_EQ(clock / block, (clock + count - 1) / block)
                    << "crosses a block: " << entry;
            }
            sawEmptyCall |= count == 0;
            end = clock + count;
            ++calls;
        }
        EXPECT_EQ(end, samples);
        EXPECT_EQ(eventClocks, (std::vector<int32_t>{5, 37, 64}));
        sawSplitBlock |= calls > 7 + 3;
    }
    EXPECT_TRUE(sawEmptyCall);
    EXPECT_TRUE(sawSplitBlock);
}

struct PostedRoutines : RenderLoopTest {};

TEST_F(PostedRoutines, RunWhenTheirClockComes) {
    const struct {
        int32_t at;
        const char* calls;
    } rows[] = {
        {100, "p0+64 p64+36 r100 p100+28 p128+64 p192+8"},
        {0, "r0 p0+64 p64+64 p128+64 p192+8"},
        {128, "p0+64 p64+64 r128 p128+64 p192+8"},
        {500, "p0+64 p64+64 p128+64 p192+8"},  // past the end: never due
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.at);
        SetUp();
        test::probeSetup.postRoutineAt = row.at;
        run(64, 200, {});
        EXPECT_EQ(joined(test::probeLog), row.calls);
    }
}

struct Guards : RenderLoopTest {};

TEST_F(Guards, WritesOutsideABufferStopTheRender) {
    for (int32_t stray : {+1, -1}) {
        SCOPED_TRACE(stray);
        SetUp();
        test::probeSetup.strayWrite = stray;
        try {
            run(16, 40, {});
            ADD_FAILURE() << "no failure";
        } catch (const Error& failure) {
            EXPECT_NE(std::string(failure.what())
                          .find("outside the buffer of plug out in the block from sample 0"),
                      std::string::npos)
                << failure.what();
        }
    }
}

// The counter's documented run to a reset: reset@ label 3, bySTEP 0.1, upZERO low.
struct CounterRun : ::testing::Test {};

TEST_F(CounterRun, MatchesTheDocumentedTableForAnySplit) {
    const std::vector<float> upCount = {0, 0.5f, 0.5f, 0, 0.5f, 0, 0.5f, 0, 0, 0};
    const float p1 = 0.1f, p2 = 0.1f + 0.1f;
    const std::vector<float> outClimb = {0, p1, p1, p1, p2, p2, 0, 0, 0, 0};
    const std::vector<float> resetPulse = {0, 0, 0, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0};
    struct Row {
        int32_t block;
        std::optional<uint64_t> seed;
    };
    std::vector<Row> rows = {{1, {}}, {3, {}}, {10, {}}, {1024, {}}};
    for (uint64_t seed = 1; seed <= 30; ++seed) rows.push_back({4, seed});
    for (const Row& row : rows) {
        SCOPED_TRACE("block " + std::to_string(row.block) + " seed " +
                     std::to_string(row.seed.value_or(0)));
        HostSettings settings;
        settings.blockSize = row.block;
        HostedModule host({getModuleProperties, makeModule}, settings);
        host.open();
        host.setListValue(host.plugNamed("reset@").index, 2);
        const auto up = samplesSource(upCount);
        const auto low = constantSource(0.0f);
        const auto step = constantSource(0.1f);
        RenderJob job{
            10,
            {{host.plugNamed("upCOUNT").index, up.get()},
             {host.plugNamed("upZERO").index, low.get()},
             {host.plugNamed("bySTEP").index, step.get()}},
            {{0, host.plugNamed("upCOUNT").index, ScheduledChange::StreamState, mv::Streaming}},
            row.seed};
        Capture capture({host.plugNamed("OUTclimb").index, host.plugNamed("RESETpulse").index});
        runBlocks(host, job, capture);
        EXPECT_EQ(capture.signals[0], outClimb);
        EXPECT_EQ(capture.signals[1], resetPulse);
    }
}

}  // namespace
}  // namespace mvmhost
