// The counting kernels against the per-sample routine: seeded random streams, split into
// calls as a host would, with every output buffer and the carried state compared bit for bit.
//
// Samples travel as bit patterns and are copied with memcpy: on 32-bit x86 a float returned
// from a function passes through the x87 stack, which would quieten a signalling NaN.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modules/count_reset/count_kernel_impl.h"
#include "modules/count_reset/count_reset_module.h"
#include "tests/support/recording_host.h"

namespace mv {
namespace {

constexpr uint32_t kThresholdBits = 0x3EAA7EFA;  // 0.333f
constexpr uint32_t kSignallingNan = 0x7FA00001, kNegativeSignallingNan = 0xFF800001;
constexpr uint32_t kGuard = 0x7FBADBAD;  // written nowhere by the counter
constexpr uint32_t kHigh = 0x3F800000;   // 1.0: ahead of an upCOUNT stretch, hides an edge

const uint32_t kLevels[] = {0x00000000,
                            0x80000000,
                            0x3F800000,
                            0x3F000000,
                            kThresholdBits,
                            kThresholdBits - 1,
                            kThresholdBits + 1,
                            0x7FC00000,
                            0xFFC00001,
                            kSignallingNan,
                            kNegativeSignallingNan,
                            0x7F800000,
                            0xFF800000,
                            0x00000001,
                            0x807FFFFF,
                            0x3EDDB22D,
                            0xBF800000};
const uint32_t kSteps[] = {0x3DCCCCCD, 0x3F800000, 0x00000000, 0x80000000, 0xBDCCCCCD,
                           0xBF800000, 0x42480000, 0x447A0000, 0x7FC00000, kSignallingNan,
                           0x7F800000, 0xFF800000, 0x00000001, 0x807FFFFF};

uint32_t bitsOf(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Streams made of runs: constants, clocks and noise, so that windows are both edge-free and
// dense with edges.
class StreamSource {
public:
    StreamSource(std::mt19937& random, double lowBias) : rng(random), lowBias(lowBias) {}

    uint32_t next() {
        if (left == 0) startRun();
        --left;
        ++phase;
        switch (kind) {
        case 0:
            return high;
        case 1:
            return (phase / halfPeriod) % 2 ? low : high;
        default:
            return pick();
        }
    }

private:
    uint32_t pick() {
        if (rng() % 3 == 0) return bitsOf(std::uniform_real_distribution<float>(0.0f, 1.0f)(rng));
        return kLevels[rng() % (sizeof kLevels / sizeof kLevels[0])];
    }
    void startRun() {
        const bool quiet = std::uniform_real_distribution<double>(0, 1)(rng) < lowBias;
        kind = quiet ? 0 : rng() % 3;
        high = quiet ? 0 : pick();
        low = pick();
        halfPeriod = 1 + rng() % 40;
        left = 1 + rng() % (kind == 0 ? 400 : 200);
        phase = 0;
    }

    std::mt19937& rng;
    double lowBias;
    uint32_t kind = 0, high = 0, low = 0, halfPeriod = 1, left = 0, phase = 0;
};

// One host buffer: `data` samples at [start, start + count), guards elsewhere. Inputs end
// exactly at start + count, so the sanitizer sees any read past it.
struct Buffer {
    std::unique_ptr<float[]> memory;
    size_t size = 0;
    void make(size_t n, uint32_t guard) {
        size = n;
        memory.reset(new float[n]);
        for (size_t i = 0; i < n; ++i) std::memcpy(&memory[i], &guard, sizeof guard);
    }
    std::vector<uint32_t> bits() const {
        std::vector<uint32_t> b(size);
        std::memcpy(b.data(), memory.get(), size * sizeof(float));
        return b;
    }
};

// Which input buffer an output is written into, if any: in-place processing.
enum Share { ShareNone, ShareUp, ShareZero, ShareStep };

struct Call {
    int32_t start, count;
    int16_t resetValue;
    Share outClimb, resetPulse;
    std::vector<uint32_t> up, zero, step;
};

struct Scenario {
    const char* name;
    uint32_t seed;
    int32_t samples;
    std::vector<int16_t> resetValues;
    std::vector<int32_t> counts;  // -1: any length up to 300
    double shareChance;
    double lowBias;
    uint32_t callsPerResetChange = 20;  // about; the kernels keep a limit per reset value
};

// One counter, driven by one routine.
struct Runner {
    explicit Runner(ProcessRoutine routine) : routine(routine) { instance.open(); }
    test::RecordingHost host;
    test::ModuleInstance instance{host};
    CountResetModule& counter = instance.module<CountResetModule>();
    ProcessRoutine routine;
    Buffer buffers[5];

    void run(const Call& call) {
        const size_t end = size_t(call.start) + size_t(call.count > 0 ? call.count : 0);
        const std::vector<uint32_t>* data[3] = {&call.up, &call.zero, &call.step};
        for (int s = 0; s < 3; ++s) {
            buffers[s].make(end > 0 ? end : 1, s == 2 ? kGuard : kHigh);
            if (!data[s]->empty())
                std::memcpy(&buffers[s].memory[call.start], data[s]->data(), data[s]->size() * 4);
        }
        buffers[3].make(end + 8, kGuard);
        buffers[4].make(end + 8, kGuard);
        auto output = [&](Share share, int own) {
            return share == ShareNone ? buffers[own].memory.get() : buffers[share - 1].memory.get();
        };
        counter.upCountBuffer = buffers[0].memory.get();
        counter.upZeroBuffer = buffers[1].memory.get();
        counter.byStepBuffer = buffers[2].memory.get();
        counter.outClimbBuffer = output(call.outClimb, 3);
        counter.resetPulseBuffer = output(call.resetPulse, 4);
        counter.resetValue = call.resetValue;
        routine(instance.record()->instance, call.start, call.count);
    }

    std::vector<uint32_t> state() const {
        return {bitsOf(counter.previousUpCount), bitsOf(counter.previousUpZero),
                bitsOf(counter.accumulator), uint32_t(uint16_t(counter.pulseCountdown))};
    }
};

std::vector<ProcessRoutine> kernelRoutines() {
    std::vector<ProcessRoutine> routines{CountResetModule::countSamplesSse2};
    if (processorHasAvx2()) routines.push_back(CountResetModule::countSamplesAvx2);
    return routines;
}

struct KernelMatchesPerSampleRoutine : ::testing::TestWithParam<Scenario> {};

TEST_P(KernelMatchesPerSampleRoutine, BitForBit) {
    const Scenario& sc = GetParam();
    std::mt19937 rng(sc.seed);
    StreamSource up(rng, sc.lowBias), zero(rng, 0.9);
    auto stepValue = [&] {
        return rng() % 4 ? kSteps[rng() % (sizeof kSteps / sizeof kSteps[0])]
                         : bitsOf(std::uniform_real_distribution<float>(-1.0f, 3.0f)(rng));
    };
    Runner reference(CountResetModule::countSamples);
    std::vector<std::unique_ptr<Runner>> kernels;
    for (ProcessRoutine r : kernelRoutines()) kernels.emplace_back(new Runner(r));

    int16_t resetValue = sc.resetValues[0];
    int64_t processed = 0;
    for (int32_t callIndex = 0; processed < sc.samples; ++callIndex) {
        Call call{};
        const int32_t pick = sc.counts[rng() % sc.counts.size()];
        call.count = pick >= 0 ? pick : int32_t(rng() % 301);
        if (rng() % 50 == 0) call.count = -int32_t(rng() % 4);
        call.start = int32_t(rng() % 40);
        if (rng() % sc.callsPerResetChange == 0)
            resetValue = sc.resetValues[rng() % sc.resetValues.size()];
        call.resetValue = resetValue;
        const bool share = std::uniform_real_distribution<double>(0, 1)(rng) < sc.shareChance;
        call.outClimb = share ? Share(rng() % 4) : ShareNone;
        call.resetPulse = share ? Share(rng() % 4) : ShareNone;
        for (int32_t i = 0; i < call.count; ++i) {
            call.up.push_back(up.next());
            call.zero.push_back(zero.next());
            call.step.push_back(stepValue());
        }
        processed += call.count > 0 ? call.count : 0;

        reference.run(call);
        for (auto& kernel : kernels) {
            kernel->run(call);
            const std::string where = std::string(sc.name) + ", call " + std::to_string(callIndex) +
                                      ", start " + std::to_string(call.start) + ", count " +
                                      std::to_string(call.count);
            for (int b = 0; b < 5; ++b)
                ASSERT_EQ(kernel->buffers[b].bits(), reference.buffers[b].bits())
                    << where << ", buffer " << b;
            ASSERT_EQ(kernel->state(), reference.state()) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, KernelMatchesPerSampleRoutine,
    ::testing::Values(
        Scenario{"host blocks", 1, 1500000, {998, 7, 2, 20}, {-1, 16, 64, 1024, 333}, 0.0, 0.3},
        Scenario{
            "extreme levels", 2, 800000, {-32768, -1, 0, 32767, 998}, {-1, 1, 31, 33}, 0.0, 0.3},
        Scenario{"in place", 3, 800000, {998, 0, -1, 5}, {-1, 7, 32, 65}, 0.7, 0.3},
        Scenario{"tiny calls", 4, 150000, {998, 0, 3, -1}, {0, 1, 2, 3, 5, 8, 9}, 0.3, 0.3},
        Scenario{"long quiet runs", 5, 1500000, {998, 40, 1}, {4096, 65536, 100}, 0.1, 0.9},
        Scenario{"reset value changing on short calls",
                 6,
                 300000,
                 {998, 0, -1, 2, 32767, -32768},
                 {1, 5, 16, 31, 32, 33, -1},
                 0.3,
                 0.3,
                 1}),
    [](const ::testing::TestParamInfo<Scenario>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ') c = '_';
        return name;
    });

// The kernels test for a reset against a single-precision limit. Since whether acc * 10 lies
// below a level only depends on which side of the level acc lies, both tests agree on every
// float when the limit resets and the float just below it does not.
TEST(ResetLimit, IsTheBoundaryOfTheResetTestForEveryResetValue) {
    for (int32_t value = -32768; value <= 32767; ++value) {
        const double level = double(value) + 1.0;
        const float limit = resetLimit(level);
        const float below = std::nextafter(limit, -std::numeric_limits<float>::infinity());
        ASSERT_FALSE(level > double(limit) * 10.0) << value;
        ASSERT_TRUE(level > double(below) * 10.0) << value;
    }
    EXPECT_FALSE(std::numeric_limits<float>::quiet_NaN() < resetLimit(999.0));
}

// Calls the kernels hand back to the per-sample routine, or must leave alone.
struct KernelRoutineEdges : ::testing::Test {
    Runner reference{CountResetModule::countSamples};
};

TEST_F(KernelRoutineEdges, SignallingNansPassThroughUnchanged) {
    for (ProcessRoutine routine : kernelRoutines()) {
        Runner kernel(routine);
        Call call{0, 40, 998, ShareNone, ShareNone, {}, {}, {}};
        call.up.assign(40, 0);
        call.zero.assign(40, 0);
        call.step.assign(40, 0x3DCCCCCD);
        call.up.back() = kSignallingNan;
        call.zero.back() = kNegativeSignallingNan;
        kernel.run(call);
        EXPECT_EQ(bitsOf(kernel.counter.previousUpCount), kSignallingNan);
        EXPECT_EQ(bitsOf(kernel.counter.previousUpZero), kNegativeSignallingNan);
    }
}

TEST_F(KernelRoutineEdges, OverlapsOtherThanSameIndexFallBack) {
    float block[100];
    const struct {
        const char* what;
        float *upCount, *byStep, *outClimb, *resetPulse;
        bool kernel;
    } rows[] = {
        {"separate", block, block + 60, block + 20, block + 40, true},
        {"OUTclimb on upCOUNT", block, block + 60, block, block + 40, true},
        {"both outputs on inputs", block, block + 60, block, block + 60, true},
        {"OUTclimb one sample after upCOUNT", block, block + 60, block + 1, block + 40, false},
        {"OUTclimb one sample before upCOUNT", block + 1, block + 60, block, block + 40, false},
        {"RESETpulse one sample after bySTEP", block, block + 60, block + 20, block + 61, false},
        {"RESETpulse ending on bySTEP's first", block, block + 60, block + 20, block + 41, false},
        {"outputs on one buffer", block, block + 60, block + 20, block + 20, false},
        {"outputs touching at the last sample", block, block + 60, block + 20, block + 39, false},
    };
    for (const auto& row : rows) {
        const CountStreams streams{row.upCount, block + 80, row.byStep, row.outClimb,
                                   row.resetPulse};
        EXPECT_EQ(kernelCanRun(streams, 20), row.kernel) << row.what;
        EXPECT_TRUE(kernelCanRun(streams, 0)) << row.what;
    }
}

TEST_F(KernelRoutineEdges, FallbackMatchesPerSampleRoutine) {
    // OUTclimb one sample ahead of upCOUNT: each written level feeds the next edge test.
    for (ProcessRoutine routine : kernelRoutines()) {
        Runner perSample(CountResetModule::countSamples), kernel(routine);
        Runner* runners[] = {&perSample, &kernel};
        std::vector<uint32_t> results[2];
        for (int r = 0; r < 2; ++r) {
            CountResetModule& c = runners[r]->counter;
            std::vector<float> shared(41), zero(40, 0.0f), step(40, 0.5f), pulse(40);
            for (int i = 0; i < 41; ++i) shared[i] = i % 3 ? 0.0f : 1.0f;
            c.upCountBuffer = shared.data() + 1;
            c.outClimbBuffer = shared.data();
            c.upZeroBuffer = zero.data();
            c.byStepBuffer = step.data();
            c.resetPulseBuffer = pulse.data();
            runners[r]->routine(runners[r]->instance.record()->instance, 0, 40);
            for (float x : shared) results[r].push_back(bitsOf(x));
            for (uint32_t s : runners[r]->state()) results[r].push_back(s);
        }
        EXPECT_EQ(results[1], results[0]);
    }
}

TEST_F(KernelRoutineEdges, NullBufferOrEmptyCallChangesNothing) {
    for (ProcessRoutine routine : kernelRoutines()) {
        Runner kernel(routine);
        const std::vector<uint32_t> before = kernel.state();
        float samples[8] = {0, 1, 0, 1, 0, 1, 0, 1};
        CountResetModule& c = kernel.counter;
        void* instance = kernel.instance.record()->instance;
        c.upCountBuffer = c.upZeroBuffer = c.byStepBuffer = c.outClimbBuffer = samples;
        c.resetPulseBuffer = nullptr;
        routine(instance, 0, 8);
        c.resetPulseBuffer = samples;
        routine(instance, 0, 0);
        routine(instance, 4, -3);
        EXPECT_EQ(kernel.state(), before);
        EXPECT_EQ(bitsOf(samples[7]), bitsOf(1.0f));
    }
}

TEST_F(KernelRoutineEdges, OpenSelectsTheFastestKernel) {
    EXPECT_EQ(reference.instance.record()->processEntry, CountResetModule::fastestRoutine());
    EXPECT_EQ(CountResetModule::fastestRoutine() == CountResetModule::countSamplesAvx2,
              processorHasAvx2());
}

}  // namespace
}  // namespace mv
