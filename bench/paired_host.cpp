// The counter as a host runs it, timed where Google Benchmark is not at hand (the 32-bit
// product on Windows, 32-bit Linux): the shipped library and the per-sample build of the same
// sources, each loaded through its two exports, opened, and driven block by block through the
// record's process entry, in one process, in alternating turns over the same samples.
//
//   count_paired SHIPPED.mvm PER_SAMPLE.mvm [--turns N] [--runs N] [--turn-samples N]
//                [--case NAME] [--markdown]
//
// Each turn runs the per-sample build, the shipped library and memcpy8 (a copy of upCOUNT and
// upZERO to the two outputs: the traffic no routine avoids) over the same turn-samples, in an
// order that rotates from turn to turn. A ratio is the median of the turns' ratios, then the
// median of the runs; rates come from the median times. Before timing, both libraries process
// every case once and their outputs must agree bit for bit.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#endif

#include "bench/bench_cases.h"
#include "host/exports.h"
#include "host/module_info.h"
#include "host/module_record.h"
#include "host/plug_info.h"

namespace mv::bench {
namespace {

constexpr int32_t kWalk = 1 << 16;  // samples per input stream; blocks walk it and wrap
constexpr int32_t kBlockSizes[] = {16, 64, 1024};
constexpr size_t kPage = 4096;
// Buffers start this far apart from a page boundary, so that no two share their offset in it.
constexpr size_t kStaggerBytes = 1040;

enum Routine { PerSample, Shipped, Memcpy8, RoutineCount };

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "count_paired: %s\n", message.c_str());
    std::exit(2);
}

// Timing: this thread's CPU time where the system keeps it finely, else the wall clock.
double seconds() {
#if defined(_WIN32)
    static const double period = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1.0 / double(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * period;
#else
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
#endif
}
const char* const kClockName =
#if defined(_WIN32)
    "wall clock";
#else
    "thread CPU time";
#endif

// Samples starting at a page boundary plus `stagger` buffers' offset.
class PageBuffer {
public:
    PageBuffer(size_t samples, int stagger)
        : storage(samples + (kPage + stagger * kStaggerBytes) / sizeof(float)) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(storage.data());
        const uintptr_t aligned = (base + kPage - 1) / kPage * kPage + stagger * kStaggerBytes;
        samplesAt = reinterpret_cast<float*>(aligned);
    }
    float* data() { return samplesAt; }

private:
    std::vector<float> storage;
    float* samplesAt;
};

using GetModuleProperties = int32_t(MV_CDECL*)(int32_t index, ModuleInfo* info);
using MakeModule = ModuleRecord*(MV_CDECL*)(int32_t index, int32_t kind, HostCallback callback,
                                            intptr_t hostHandle);

struct Library {
    std::string path;
    GetModuleProperties getModuleProperties;
    MakeModule makeModule;
};

Library load(const std::string& path) {
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle) fail("cannot load " + path);
    auto symbol = [&](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(handle, name));
    };
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) fail("cannot load " + path + ": " + dlerror());
    auto symbol = [&](const char* name) { return dlsym(handle, name); };
#endif
    Library library{path, reinterpret_cast<GetModuleProperties>(symbol("getModuleProperties")),
                    reinterpret_cast<MakeModule>(symbol("makeModule"))};
    if (!library.getModuleProperties || !library.makeModule)
        fail(path + " does not export getModuleProperties and makeModule");
    return library;
}

int32_t plugCount = 0;  // described by the library being opened

intptr_t MV_CDECL hostCallback(void*, int32_t request, int32_t, int32_t, void*, float) {
    return request == hostGetPlugCount ? plugCount : 0;
}

// One opened counter, its plugs found by name as a host finds them.
class Counter {
public:
    static constexpr int kInputs = 3, kBuffers = 5;

    explicit Counter(const Library& library) {
        ModuleInfo info{};
        if (library.getModuleProperties(0, &info) != 1) fail(library.path + ": no module 0");
        record = library.makeModule(0, KindModule, hostCallback, 0);
        if (!record) fail(library.path + ": makeModule answered null");
        const char* const names[] = {"upCOUNT", "upZERO", "bySTEP", "OUTclimb", "RESETpulse"};
        for (plugCount = 0;; ++plugCount) {
            PlugInfo plug{};
            if (!dispatch(OpGetPlugProperties, plugCount, &plug)) break;
            const std::string name = plug.name ? plug.name : "";
            if (name == "reset@") resetAt = static_cast<int16_t*>(plug.variable);
            for (int b = 0; b < kBuffers; ++b)
                if (name == names[b]) buffers[b] = static_cast<float**>(plug.variable);
        }
        for (float** b : buffers)
            if (!b) fail(library.path + " does not describe the counter's plugs");
        if (!resetAt) fail(library.path + " does not describe reset@");
        dispatch(OpOpen, 0, nullptr);
        *resetAt = kResetValue;  // the host writes the chosen item after open
    }
    ~Counter() { dispatch(OpClose, 0, nullptr); }
    Counter(const Counter&) = delete;
    Counter& operator=(const Counter&) = delete;

    // The inputs at `at` of their streams, the outputs in their block buffers.
    void process(float* const* streams, int32_t at, int32_t count) {
        for (int b = 0; b < kInputs; ++b) *buffers[b] = streams[b] + at;
        for (int b = kInputs; b < kBuffers; ++b) *buffers[b] = streams[b];
        record->processEntry(record->instance, 0, count);
    }

private:
    intptr_t dispatch(int32_t opcode, int32_t index, void* ptr) {
        return record->dispatcherEntry(record, opcode, index, 0, ptr, 0.0f);
    }

    ModuleRecord* record = nullptr;
    float** buffers[kBuffers] = {};  // the plugs' value locations inside the instance
    int16_t* resetAt = nullptr;
};

// A case's input streams and one routine's block-sized outputs, each at a page boundary plus
// an offset of its own.
class Stage {
public:
    Stage(const Inputs& in, int32_t block) {
        const std::vector<float>* inputs[] = {&in.up, &in.zero, &in.step};
        pages.reserve(Counter::kBuffers);
        for (int b = 0; b < Counter::kBuffers; ++b) {
            const bool input = b < Counter::kInputs;
            pages.emplace_back(input ? kWalk : block, b);
            if (input) std::copy(inputs[b]->begin(), inputs[b]->begin() + kWalk, pages[b].data());
        }
        for (int b = 0; b < Counter::kBuffers; ++b) streams[b] = pages[b].data();
    }
    float* streams[Counter::kBuffers];

private:
    std::vector<PageBuffer> pages;
};

struct Options {
    int32_t turns = 41;
    int32_t runs = 3;
    int32_t turnSamples = 1 << 18;
    std::string only;  // one case, for quick comparisons
    bool markdown = false;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int32_t nextAt(int32_t at, int32_t block) { return at + block == kWalk ? 0 : at + block; }

// Both builds over every block of the walk and once more, compared after each block.
void checkIdentical(const Library& shipped, const Library& perSample, const Inputs& in,
                    int32_t block) {
    Counter counters[2] = {Counter(shipped), Counter(perSample)};
    Stage stages[2] = {Stage(in, block), Stage(in, block)};
    for (int32_t k = 0, at = 0; k < 2 * kWalk / block; ++k, at = nextAt(at, block)) {
        for (int c = 0; c < 2; ++c) counters[c].process(stages[c].streams, at, block);
        for (int b = Counter::kInputs; b < Counter::kBuffers; ++b)
            if (std::memcmp(stages[0].streams[b], stages[1].streams[b], block * sizeof(float)))
                fail(std::string("the shipped library's outputs differ from the per-sample "
                                 "build's: ") +
                     in.name + " at block " + std::to_string(block));
    }
}

struct Figures {
    double rate[RoutineCount];         // samples per ns, from the median times
    double overPerSample, overMemcpy;  // shipped's speed over each, paired
};

Figures measure(const Library& shipped, const Library& perSample, const Inputs& in, int32_t block,
                const Options& options) {
    Counter perSampleCounter(perSample), shippedCounter(shipped);
    Stage stages[RoutineCount] = {Stage(in, block), Stage(in, block), Stage(in, block)};
    const int32_t calls = std::max(options.turnSamples / block, 1);
    int32_t at[RoutineCount] = {};
    auto turn = [&](int routine, int32_t turnCalls) {
        float* const* streams = stages[routine].streams;
        const double begin = seconds();
        for (int32_t k = 0; k < turnCalls; ++k) {
            if (routine == Memcpy8) {
                std::memcpy(streams[3], streams[0] + at[routine], block * sizeof(float));
                std::memcpy(streams[4], streams[1] + at[routine], block * sizeof(float));
                asm volatile("" ::: "memory");
            } else {
                (routine == Shipped ? shippedCounter : perSampleCounter)
                    .process(streams, at[routine], block);
            }
            at[routine] = nextAt(at[routine], block);
        }
        return seconds() - begin;
    };
    std::vector<double> overPerSample, overMemcpy, times[RoutineCount];
    for (int r = 0; r < options.runs; ++r) {
        std::vector<double> runPs, runMc, runTimes[RoutineCount];
        // The warm-up walks every routine's inputs once at least: short turns timed on inputs
        // not yet in the cache read up to a third slower, more for some routines than others.
        for (int routine = 0; routine < RoutineCount; ++routine)
            turn(routine, std::max(calls, kWalk / block));
        for (int32_t t = 0; t < options.turns; ++t) {
            double took[RoutineCount];
            for (int k = 0; k < RoutineCount; ++k) {
                const int routine = (t + k) % RoutineCount;
                took[routine] = turn(routine, calls);
            }
            runPs.push_back(took[PerSample] / took[Shipped]);
            runMc.push_back(took[Memcpy8] / took[Shipped]);
            for (int routine = 0; routine < RoutineCount; ++routine)
                runTimes[routine].push_back(took[routine]);
        }
        overPerSample.push_back(median(runPs));
        overMemcpy.push_back(median(runMc));
        for (int routine = 0; routine < RoutineCount; ++routine)
            times[routine].push_back(median(runTimes[routine]));
    }
    Figures f;
    for (int routine = 0; routine < RoutineCount; ++routine)
        f.rate[routine] = double(calls) * block / (median(times[routine]) * 1e9);
    f.overPerSample = median(overPerSample);
    f.overMemcpy = median(overMemcpy);
    return f;
}

}  // namespace
}  // namespace mv::bench

int main(int argc, char** argv) {
    using namespace mv::bench;
    Options options;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](int32_t least) {
            if (i + 1 >= argc) fail(arg + " needs a number");
            const int32_t n = std::atoi(argv[++i]);
            if (n < least) fail(arg + " needs a number of at least " + std::to_string(least));
            return n;
        };
        if (arg == "--turns")
            options.turns = number(1);
        else if (arg == "--runs")
            options.runs = number(1);
        else if (arg == "--turn-samples")
            options.turnSamples = number(1024);
        else if (arg == "--case" && i + 1 < argc)
            options.only = argv[++i];
        else if (arg == "--markdown")
            options.markdown = true;
        else if (arg.size() > 1 && arg[0] == '-')
            fail("unknown option " + arg);
        else
            paths.push_back(arg);
    }
    if (paths.size() != 2)
        fail(
            "usage: count_paired SHIPPED.mvm PER_SAMPLE.mvm [--turns N] "
            "[--runs N] [--turn-samples N] [--case NAME] [--markdown]");
    const Library shipped = load(paths[0]), perSample = load(paths[1]);
    const std::vector<Inputs> cases = makeCases(kWalk);
    if (!options.only.empty() && std::none_of(cases.begin(), cases.end(), [&](const Inputs& in) {
            return in.name == options.only;
        }))
        fail("no case named \"" + options.only + "\"");

    std::printf("%d run(s) of %d turns of %d samples, %s; outputs checked identical\n",
                options.runs, options.turns, options.turnSamples, kClockName);
    if (!options.markdown)
        std::printf("%-8s %6s %10s %8s %8s | %8s %8s\n", "case", "block", "per-smp", "shipped",
                    "memcpy8", "ship/ps", "ship/mc");
    double worst = 1e9;
    std::string worstAt, missed;
    for (const Inputs& in : cases) {
        if (!options.only.empty() && options.only != in.name) continue;
        for (int32_t block : kBlockSizes) {
            checkIdentical(shipped, perSample, in, block);
            const Figures f = measure(shipped, perSample, in, block, options);
            if (options.markdown)
                std::printf("| %s | %d | %.2f | %.2f | %.2f | %.2f | %.2f |\n", in.name, block,
                            f.rate[PerSample], f.rate[Shipped], f.rate[Memcpy8], f.overPerSample,
                            f.overMemcpy);
            else
                std::printf("%-8s %6d %10.2f %8.2f %8.2f | %8.2f %8.2f\n", in.name, block,
                            f.rate[PerSample], f.rate[Shipped], f.rate[Memcpy8], f.overPerSample,
                            f.overMemcpy);
            std::fflush(stdout);
            const std::string where = std::string(in.name) + " " + std::to_string(block);
            if (f.overPerSample < worst) worst = f.overPerSample, worstAt = where;
            const std::string name = in.name;
            auto target = [&](bool held, const char* what) {
                if (!held) missed += "  " + where + ": " + what + "\n";
            };
            target(f.overPerSample >= 0.97, ">= 0.97x per-sample");
            if (name == "noise" && block >= 64) target(f.overPerSample >= 3.0, ">= 3x per-sample");
            if ((name == "clock64" || name == "const0") && block == 1024) {
                target(f.overPerSample >= 6.0, ">= 6x per-sample");
                target(f.overMemcpy >= 0.5, ">= 0.5x memcpy8");
            }
        }
    }
    std::printf("slowest against the per-sample build: %s at %.2fx\n", worstAt.c_str(), worst);
    std::printf("targets%s\n%s", missed.empty() ? ": all met" : " missed:", missed.c_str());
    return 0;
}
