#include "tools/mvmhost/commands/bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include "tools/mvmhost/base/elapsed.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/base/files.h"
#include "tools/mvmhost/base/random.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/commands/render.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/interrupts.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/signal_io/csv.h"
#include "tools/mvmhost/signal_io/sample_writers.h"

namespace mvmhost {
namespace {

constexpr int32_t kDefaultBlocks[] = {16, 64, 1024};
constexpr double kDefaultSeconds = 3;
constexpr double kLongestSeconds = 86400;
// Samples each input walks through before it starts again: more than a branch predictor
// learns, few enough to stay in the cache as a host's buffers do.
constexpr int32_t kWalk = 1 << 15;
// A turn long enough that the clock's own cost and resolution vanish in it.
constexpr double kTurnSeconds = 0.0005;
constexpr int32_t kFewestTurns = 5;
constexpr int32_t kMostTurns = 100001;
constexpr float kHeldLevel = 0.5f;    // 5 V
constexpr int32_t kClockPeriod = 64;  // samples; high for the first half
constexpr uint64_t kNoiseSeed = 0x6265;
// A thread CPU clock that ticks more coarsely than this is no use for turns of a few ms.
constexpr double kFinestUsefulTick = 1e-5;

// The kinds of input, each told to the module as a host tells it.
enum class Input { Silence, Held, Clock, Noise };
struct InputKind {
    Input input;
    const char* name;
    mv::StreamState told;  // at clock 0, after open; Static is not told
};
constexpr InputKind kInputs[] = {
    {Input::Silence, "silence", mv::Static},
    {Input::Held, "held", mv::SingleChange},
    {Input::Clock, "clock", mv::Streaming},
    {Input::Noise, "noise", mv::Streaming},
};

// This thread's CPU time where the platform keeps it finely enough, else the steady clock.
class TurnClock {
public:
    TurnClock() {
#if defined(_WIN32)
        // Thread times tick with the scheduler on many systems: measure the tick first.
        const double first = threadSeconds();
        const Clock::time_point start = Clock::now();
        double next = first;
        while (next == first && secondsSince(start) < 0.05) next = threadSeconds();
        thread_ = next != first && next - first <= kFinestUsefulTick;
        if (!thread_)
            name_ = next == first
                        ? "wall clock (this system keeps no thread CPU time)"
                        : "wall clock (this system's thread CPU time ticks every " +
                              formatSample(static_cast<float>((next - first) * 1e3)) + " ms)";
#else
        timespec resolution{};
        thread_ = clock_getres(CLOCK_THREAD_CPUTIME_ID, &resolution) == 0 &&
                  resolution.tv_sec == 0 && resolution.tv_nsec <= kFinestUsefulTick * 1e9;
        if (!thread_) name_ = "wall clock (this system keeps no fine thread CPU time)";
#endif
    }
    double now() const {
        return thread_ ? threadSeconds()
                       : std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    }
    const std::string& name() const { return name_; }

private:
    static double threadSeconds() {
#if defined(_WIN32)
        FILETIME created, exited, kernel, user;
        if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
        auto ticks = [](const FILETIME& t) {
            return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
        };
        return double(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
#else
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
#endif
    }
    bool thread_ = false;
    std::string name_ = "thread CPU time";
};

// Every Signal input's samples for one kind of input, by plug index; empty for the others.
std::vector<std::vector<float>> makeWalk(const HostedModule& host, Input input, int32_t length) {
    std::vector<std::vector<float>> walk(host.plugs().size());
    for (const HostPlug& plug : host.plugs()) {
        if (!plug.isSignal() || !plug.isInput()) continue;
        std::vector<float>& samples = walk[static_cast<size_t>(plug.index)];
        samples.resize(static_cast<size_t>(length));
        Random random(kNoiseSeed + static_cast<uint64_t>(plug.index));
        for (int32_t i = 0; i < length; ++i) {
            float& s = samples[static_cast<size_t>(i)];
            switch (input) {
            case Input::Silence:
                s = 0.0f;
                break;
            case Input::Held:
                s = kHeldLevel;
                break;
            case Input::Clock:
                s = i % kClockPeriod < kClockPeriod / 2 ? kHeldLevel : 0.0f;
                break;
            case Input::Noise:
                s = random.uniform(-1.0f, 1.0f);
                break;
            }
        }
    }
    return walk;
}

// Samples at a place within a page chosen by the caller: an instance's buffers lie at the
// same offsets from the instance's record in A as in B, so that neither meets a load waiting
// on an unrelated store with the same page offset (4K aliasing) more than the other does.
class PageBuffer {
public:
    PageBuffer(size_t samples, uintptr_t pageOffset)
        : storage_(samples + 2 * kPage / sizeof(float)) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data());
        samples_ = reinterpret_cast<float*>((base + kPage - 1) / kPage * kPage +
                                            pageOffset % kPage / kAlignment * kAlignment);
    }
    float* data() const { return samples_; }
    static constexpr uintptr_t kPage = 4096;

private:
    static constexpr uintptr_t kAlignment = 64;  // a cache line: vector loads alike in A and B
    std::vector<float> storage_;
    float* samples_;
};

// One opened instance walking the inputs in buffers of its own: a described plug's variable
// points into them at every call, as a host hands a module block after block; an input
// repeated past the descriptions has no variable and holds the walk's first block throughout.
class Instance {
public:
    Instance(const EntryPoints& entries, const HostSettings& settings, const InputKind& kind,
             const std::vector<std::vector<float>>& walk)
        : host_(entries, settings), block_(settings.blockSize) {
        host_.open();
        for (const HostPlug& plug : host_.plugs())
            if (plug.isList() && plug.isInput() && plug.description &&
                plug.description->defaultValue)
                host_.setListValue(plug.index, defaultListValue(*plug.description));
        buffers_.reserve(host_.plugs().size());
        for (const HostPlug& plug : host_.plugs()) {
            if (!plug.isSignal()) continue;
            const std::vector<float>& samples = walk[static_cast<size_t>(plug.index)];
            if (!samples.empty()) {
                std::copy_n(samples.begin(), block_, host_.buffer(plug.index));
                length_ = static_cast<int32_t>(samples.size());
            }
            if (!plug.variable) continue;
            const uintptr_t offset = reinterpret_cast<uintptr_t>(host_.record()) + kFromRecord +
                                     buffers_.size() * kStaggerBytes;
            buffers_.emplace_back(samples.empty() ? static_cast<size_t>(block_) : samples.size(),
                                  offset);
            std::copy(samples.begin(), samples.end(), buffers_.back().data());
            walked_.push_back({plug.variable, buffers_.back().data(), !samples.empty()});
        }
        host_.beginBlock(0);
        point(0);
        if (kind.told != mv::Static)
            for (const HostPlug& plug : host_.plugs())
                if (plug.isSignal() && plug.isInput())
                    host_.changeStreamState(plug.index, kind.told, 0);
        host_.clearLog();
    }

    // `calls` process calls of a block each, the inputs moving on by a block every call.
    void turn(int64_t calls) {
        for (int64_t k = 0; k < calls; ++k) {
            point(at_);
            host_.process(0, block_);
            at_ += block_;
            if (at_ + block_ > length_) at_ = 0;
        }
        host_.clearLog();  // what a module tells while running is not this command's business
    }

private:
    // The buffers start a quarter page past the record, each 1040 bytes (16 cache lines and a
    // quarter) past the one before, so that no two share their offset within a page.
    static constexpr uintptr_t kFromRecord = PageBuffer::kPage / 4;
    static constexpr uintptr_t kStaggerBytes = 1040;

    void point(int32_t at) {
        for (const Walked& w : walked_) {
            const float* samples = w.samples + (w.moves ? at : 0);
            std::memcpy(w.variable, &samples, sizeof samples);
        }
    }

    struct Walked {
        void* variable;
        float* samples;
        bool moves;  // an input's walk; an output's block stays put
    };
    HostedModule host_;
    int32_t block_;
    std::vector<PageBuffer> buffers_;
    std::vector<Walked> walked_;
    int32_t length_ = 0;
    int32_t at_ = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Half the interquartile range, as a fraction of the median.
double spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[static_cast<size_t>(std::lround(q * double(v.size() - 1)))];
    };
    const double m = median(v);
    return m > 0 ? 0.5 * (at(0.75) - at(0.25)) / m : 0;
}

struct Figures {
    std::string input;
    int32_t block = 0;
    int32_t turns = 0;
    double aNs = 0, aSpread = 0;
    std::optional<double> bNs, bSpread, ratio, ratioSpread;
};

Figures measure(const EntryPoints& a, const EntryPoints* b, const HostSettings& settings,
                const InputKind& kind, double budget, const TurnClock& clock) {
    // A HostedModule first, to learn the plugs the walk feeds.
    const int32_t length = std::max(kWalk / settings.blockSize, 1) * settings.blockSize;
    std::vector<std::vector<float>> walk;
    {
        const HostedModule probe(a, settings);
        walk = makeWalk(probe, kind.input, length);
    }
    Instance first(a, settings, kind, walk);
    std::unique_ptr<Instance> second;
    if (b) second = std::make_unique<Instance>(*b, settings, kind, walk);
    auto timed = [&](Instance& instance, int64_t calls) {
        const double start = clock.now();
        instance.turn(calls);
        return clock.now() - start;
    };
    // Warm: every input walked once by each, then turns long enough for the clock.
    const int64_t walkCalls = length / settings.blockSize;
    timed(first, walkCalls);
    if (second) timed(*second, walkCalls);
    // A pair of turns long enough for the clock, however far apart the two are.
    auto pairTime = [&](int64_t n) { return timed(first, n) + (second ? timed(*second, n) : 0.0); };
    int64_t calls = 1;
    double pair = pairTime(calls);
    while (pair < kTurnSeconds && calls < (int64_t{1} << 40)) {
        calls *= 2;
        pair = pairTime(calls);
    }
    const int32_t turns = static_cast<int32_t>(
        std::clamp<double>(std::floor(budget / std::max(pair, 1e-9)), kFewestTurns, kMostTurns));

    const double samples = double(calls) * settings.blockSize;
    std::vector<double> aNs, bNs, ratios;
    for (int32_t t = 0; t < turns; ++t) {
        stopIfInterrupted();
        double ta, tb = 0;
        if (second && t % 2) {  // either one first in turn, so neither always runs warmer
            tb = timed(*second, calls);
            ta = timed(first, calls);
        } else {
            ta = timed(first, calls);
            if (second) tb = timed(*second, calls);
        }
        aNs.push_back(ta / samples * 1e9);
        if (second) {
            bNs.push_back(tb / samples * 1e9);
            ratios.push_back(ta > 0 ? tb / ta : 0);
        }
    }
    Figures f;
    f.input = kind.name;
    f.block = settings.blockSize;
    f.turns = turns;
    f.aNs = median(aNs);
    f.aSpread = spread(aNs);
    if (second) {
        f.bNs = median(bNs);
        f.bSpread = spread(bNs);
        f.ratio = median(ratios);
        f.ratioSpread = spread(ratios);
    }
    return f;
}

struct Plan {
    std::vector<int32_t> blocks;
    double seconds = kDefaultSeconds;
    std::optional<double> failSlower;  // a fraction: 0.1 for 10 %
};

Plan readPlan(const BenchArgs& args) {
    Plan plan;
    for (const std::string& text : args.blocks) {
        const auto b =
            static_cast<int32_t>(parseCount("--block", text, "samples", 1, kMaxBlockSize));
        if (std::find(plan.blocks.begin(), plan.blocks.end(), b) == plan.blocks.end())
            plan.blocks.push_back(b);
    }
    if (plan.blocks.empty())
        plan.blocks.assign(std::begin(kDefaultBlocks), std::end(kDefaultBlocks));
    if (!args.seconds.empty()) {
        const std::optional<double> s = parseSeconds(args.seconds);
        if (!s || !(*s > 0) || *s > kLongestSeconds)
            throw Error("--seconds " + args.seconds + ": give a positive time of at most a day");
        plan.seconds = *s;
    }
    if (!args.failSlower.empty()) {
        std::string number = args.failSlower;
        if (!number.empty() && number.back() == '%') number.pop_back();
        const std::optional<double> p = parseNumber(number);
        if (!p || !(*p >= 0) || std::isinf(*p))
            throw Error("--fail-slower " + args.failSlower + ": give a percentage, 0 or more");
        if (args.second.empty()) throw Error("--fail-slower needs a second library B to hold to A");
        plan.failSlower = *p / 100;
    }
    return plan;
}

std::string jsonNumber(std::optional<double> v) {
    if (!v || !std::isfinite(*v)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", *v);
    return text;
}

void writeJson(const std::string& path, const std::vector<Figures>& all, const std::string& clock) {
    std::ofstream file(path, std::ios::binary);
    file << "{\n  \"clock\": \"" << clock << "\",\n  \"results\": [";
    for (size_t i = 0; i < all.size(); ++i) {
        const Figures& f = all[i];
        file << (i ? ",\n" : "\n") << "    {\"input\": \"" << f.input
             << "\", \"block\": " << f.block << ", \"a_ns\": " << jsonNumber(f.aNs)
             << ", \"b_ns\": " << jsonNumber(f.bNs) << ", \"ratio\": " << jsonNumber(f.ratio)
             << ", \"turns\": " << f.turns << ", \"a_spread\": " << jsonNumber(f.aSpread)
             << ", \"b_spread\": " << jsonNumber(f.bSpread)
             << ", \"ratio_spread\": " << jsonNumber(f.ratioSpread) << "}";
    }
    file << "\n  ]\n}\n";
    if (!file.flush()) throw Error("cannot write " + path);
}

std::string percent(std::optional<double> fraction) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", fraction ? *fraction * 100 : 0.0);
    return text;
}

}  // namespace

int benchCommand(const BenchArgs& args) {
    const Plan plan = readPlan(args);
    const bool paired = !args.second.empty();
    std::unique_ptr<PendingFile> json;
    if (!args.json.empty()) {
        for (const std::string& library : {args.first, args.second})
            if (!library.empty() && sameFile(args.json, library))
                throw Error("--json " + args.json + " is a library of the bench");
        json = std::make_unique<PendingFile>(args.json);
    }
    InterruptWatch watch;
    // Each a copy of its own: the same file twice gives two libraries, as two builds are.
    const FreshLibrary a(args.first, "bench-a");
    std::unique_ptr<FreshLibrary> b;
    if (paired) b = std::make_unique<FreshLibrary>(args.second, "bench-b");
    HostSettings settings;
    settings.plugCount = args.plugCount;
    if (paired) {
        const HostedModule ha(a.entries(), settings), hb(b->entries(), settings);
        if (const std::string why = plugMismatch(ha, hb, "A", "B"); !why.empty())
            throw Error("cannot pair " + args.first + " and " + args.second + ": " + why);
    }

    const TurnClock clock;
    const size_t cases = plan.blocks.size() * std::size(kInputs);
    const double budget = plan.seconds / double(cases);
    std::printf("mvmhost bench %s%s%s: %zu cases, about %s s each, %s\n",
                printable(args.first).c_str(), paired ? " against " : "",
                paired ? printable(args.second).c_str() : "", cases,
                formatSample(static_cast<float>(budget)).c_str(), clock.name().c_str());
    std::printf("ns per sample, the median of the turns, +- half their interquartile range\n");
    if (paired)
        std::printf("%-8s %6s %10s %6s %10s %6s %8s %6s\n", "input", "block", "A ns", "+-%", "B ns",
                    "+-%", "B/A", "+-%");
    else
        std::printf("%-8s %6s %10s %6s\n", "input", "block", "A ns", "+-%");
    std::fflush(stdout);

    std::vector<Figures> all;
    for (const InputKind& kind : kInputs) {
        for (const int32_t block : plan.blocks) {
            settings.blockSize = block;
            const Figures f = measure(a.entries(), paired ? &b->entries() : nullptr, settings, kind,
                                      budget, clock);
            if (paired)
                std::printf("%-8s %6d %10.3f %6s %10.3f %6s %8.3f %6s\n", f.input.c_str(), block,
                            f.aNs, percent(f.aSpread).c_str(), *f.bNs, percent(f.bSpread).c_str(),
                            *f.ratio, percent(f.ratioSpread).c_str());
            else
                std::printf("%-8s %6d %10.3f %6s\n", f.input.c_str(), block, f.aNs,
                            percent(f.aSpread).c_str());
            std::fflush(stdout);
            all.push_back(f);
        }
    }
    if (json) {
        writeJson(json->tempPath(), all, clock.name());
        json->commit();
    }
    if (!plan.failSlower) return exit_status::kPassed;
    std::string slower;
    for (const Figures& f : all)
        if (*f.ratio > 1 + *plan.failSlower)
            slower += (slower.empty() ? "" : ", ") + f.input + " " + std::to_string(f.block) +
                      " (B/A " + jsonNumber(f.ratio) + ")";
    const std::string pct = formatSample(static_cast<float>(*plan.failSlower * 100));
    if (!slower.empty()) {
        std::printf("B is slower than A by more than %s%%: %s\n", pct.c_str(), slower.c_str());
        return exit_status::kFailed;
    }
    std::printf("B is nowhere slower than A by more than %s%%\n", pct.c_str());
    return exit_status::kPassed;
}

}  // namespace mvmhost
