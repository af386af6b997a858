// Throughput of the counter's process routines in samples per nanosecond: the per-sample
// routine, the kernel that open selects, the SSE2 kernel (the 32-bit product's baseline) and,
// as the practical limit, a copy of the two input streams to the two outputs (8 bytes per
// sample read, 8 written: the traffic no routine can avoid).
//
// Inputs walk a long buffer block by block, so no block's branches repeat; outputs are
// block-sized buffers reused on every block, as a host reuses its plug buffers. State
// carries from block to block.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_cases.h"
#include "host/exports.h"
#include "modules/count_reset/count_reset_module.h"

namespace mv {
namespace {

using bench::Inputs;
using bench::kResetValue;

int32_t longSamples = 1 << 20;  // --walk=N: samples per input stream, a multiple of 65536
constexpr int32_t kBlockSizes[] = {16, 64, 1024, 65536};
constexpr int32_t kPairedBatch = 16384;  // samples per routine between switches

enum Routine { PerSample, Shipped, Sse2Kernel, Memcpy };
const char* const kRoutineNames[] = {"per_sample", "shipped", "sse2", "memcpy8"};

// One opened counter and its two output buffers.
class Bench {
public:
    Bench(Routine routine, int32_t block)
        : routine(routine),
          record(makeModule(0, KindModule, nullptr, 0)),
          out(block),
          pulse(block) {
        record->dispatcherEntry(record, OpOpen, 0, 0, nullptr, 0.0f);
        counter().resetValue = kResetValue;
        counter().outClimbBuffer = out.data();
        counter().resetPulseBuffer = pulse.data();
        entry = routine == PerSample    ? CountResetModule::countSamples
                : routine == Sse2Kernel ? CountResetModule::countSamplesSse2
                                        : record->processEntry;
    }
    ~Bench() { record->dispatcherEntry(record, OpClose, 0, 0, nullptr, 0.0f); }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    void process(const Inputs& in, int32_t at, int32_t n) {
        if (routine == Memcpy) {
            std::memcpy(out.data(), in.up.data() + at, size_t(n) * sizeof(float));
            std::memcpy(pulse.data(), in.zero.data() + at, size_t(n) * sizeof(float));
        } else {
            CountResetModule& c = counter();
            c.upCountBuffer = const_cast<float*>(in.up.data()) + at;
            c.upZeroBuffer = const_cast<float*>(in.zero.data()) + at;
            c.byStepBuffer = const_cast<float*>(in.step.data()) + at;
            entry(record->instance, 0, n);
        }
        benchmark::ClobberMemory();
    }

private:
    CountResetModule& counter() {
        return *static_cast<CountResetModule*>(static_cast<ModuleBase*>(record->instance));
    }

    Routine routine;
    ModuleRecord* record;
    ProcessRoutine entry = nullptr;
    std::vector<float> out, pulse;
};

int32_t nextBlock(int32_t at, int32_t block) { return at + block == longSamples ? 0 : at + block; }

void runBlocks(benchmark::State& state, const Inputs& in, Routine routine, int32_t block) {
    Bench bench(routine, block);
    int32_t at = 0;
    for (auto _ : state) {
        bench.process(in, at, block);
        at = nextBlock(at, block);
    }
    state.counters["samples_per_ns"] =
        benchmark::Counter(double(state.iterations()) * block * 1e-9, benchmark::Counter::kIsRate);
}

// The per-sample routine and the shipped one over the same stretch in alternating batches,
// in alternating order, timed in this thread's CPU time so that a burst of load or a warm
// cache favours neither. Reports the median of the batch pairs' ratios.
double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void runPaired(benchmark::State& state, const Inputs& in, int32_t block) {
    Bench benches[2] = {{PerSample, block}, {Shipped, block}};
    const int32_t blocks = block < kPairedBatch ? kPairedBatch / block : 1;
    std::vector<double> ratios;
    ratios.reserve(1 << 16);
    int32_t at = 0, first = 0;
    for (auto _ : state) {
        double seconds[2];
        int32_t next = at;
        for (int32_t b : {first, 1 - first}) {
            next = at;
            const double begin = threadSeconds();
            for (int32_t k = 0; k < blocks; ++k) {
                benches[b].process(in, next, block);
                next = nextBlock(next, block);
            }
            seconds[b] = threadSeconds() - begin;
        }
        state.SetIterationTime(seconds[0] + seconds[1]);
        if (ratios.size() < ratios.capacity()) ratios.push_back(seconds[0] / seconds[1]);
        at = next;
        first = 1 - first;
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["paired_ratio"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

}  // namespace
}  // namespace mv

int main(int argc, char** argv) {
    using namespace mv;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--walk=", 7) != 0) continue;
        longSamples = std::atoi(argv[i] + 7);
        if (longSamples < 65536 || longSamples % 65536 != 0) {
            std::fprintf(stderr, "--walk: a positive multiple of 65536\n");
            return 1;
        }
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
        --i;
    }
    static const std::vector<Inputs> cases = bench::makeCases(longSamples);
    for (const Inputs& in : cases) {
        for (int32_t block : kBlockSizes) {
            for (Routine r : {PerSample, Shipped, Sse2Kernel, Memcpy}) {
                const std::string name =
                    std::string(in.name) + "/" + kRoutineNames[r] + "/" + std::to_string(block);
                benchmark::RegisterBenchmark(name.c_str(), runBlocks, std::cref(in), r, block);
            }
            const std::string name = std::string(in.name) + "/paired/" + std::to_string(block);
            benchmark::RegisterBenchmark(name.c_str(), runPaired, std::cref(in), block)
                ->UseManualTime();
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
