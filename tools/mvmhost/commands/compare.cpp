#include "tools/mvmhost/commands/compare.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "framework/enum_list/enum_list.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/exit_status.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/runtime/render_loop.h"

namespace mvmhost {
namespace {

// Gaps between one input's state changes: a mean drawn per input from 2^6 to 2^13 samples.
constexpr uint32_t kShortestMeanGapLog2 = 6, kMeanGapLog2Choices = 8;
// List items drawn from the first ones only: a wide range is walked item by item.
constexpr int32_t kListItemsDrawn = 1000;
constexpr uint32_t kStreamStates = 3;
// After the session, fresh instances take blocks this long, each in one call, with every input
// streaming: what a host announcing large blocks does (the validator's long-stretches).
constexpr int32_t kLongBlock = 65536;
constexpr int64_t kLongBlocks = 2;

// "1 sample", "2 samples".
std::string counted(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Every input draws from its own sequence, so a shorter run is the same run cut short: a
// difference found at sample N shows again with --samples N + 1.
Random streamFor(uint64_t seed, uint64_t stream) {
    Random mix(seed ^ (stream * 0xD1B54A32D192ED03ull));
    return Random(mix.next());
}

// An input's samples as its stream states say: held while Static, a step at a SingleChange,
// the validator's awkward signals while Streaming.
class StimulusSource : public SignalSource {
public:
    StimulusSource(Random random, std::vector<ScheduledChange> changes)
        : random_(random), changes_(std::move(changes)) {}

    void fill(int32_t first, float* out, int32_t count) override {
        for (int32_t i = 0; i < count;) {
            const int32_t clock = first + i;
            for (; next_ < changes_.size() && changes_[next_].clock <= clock; ++next_) {
                state_ = changes_[next_].value;
                if (state_ == mv::SingleChange) fillSignal(random_, &held_, 1);
            }
            int32_t run = count - i;
            if (next_ < changes_.size()) run = std::min(run, changes_[next_].clock - clock);
            if (state_ == mv::Streaming)
                fillSignal(random_, out + i, run);
            else
                std::fill_n(out + i, run, held_);
            i += run;
            held_ = out[i - 1];  // what a later Static holds
        }
    }

private:
    Random random_;
    std::vector<ScheduledChange> changes_;
    size_t next_ = 0;
    int32_t state_ = mv::Static;
    float held_ = 0.0f;
};

// The values of a list's first items, read as the framework reads them.
std::vector<int32_t> listValues(const std::string& text) {
    std::vector<int32_t> values;
    mv::EnumListIterator items(mv::widen(text));
    for (items.first(); !items.done() && static_cast<int32_t>(values.size()) < kListItemsDrawn;
         items.next())
        if (items.current().value >= INT16_MIN && items.current().value <= INT16_MAX)
            values.push_back(items.current().value);
    return values;
}

struct Announcement {
    int32_t hostClock, plug, state, clock;
    bool operator==(const Announcement& o) const {
        return plug == o.plug && state == o.state && clock == o.clock;
    }
};

struct Difference {
    std::string what;
};

// Keeps the first host's block, and compares the second's with it.
class CompareSink : public BlockSink {
public:
    CompareSink(HostedModule& first, HostedModule& second, const std::string& firstName,
                const std::string& secondName)
        : hosts_{&first, &second}, names_{firstName, secondName} {
        for (const HostPlug& plug : first.plugs())
            if (plug.isSignal() && plug.isOutput()) outputs_.push_back(plug.index);
    }

    void take(const HostedModule& taken, int32_t start, int32_t count) override {
        const bool isFirst = &taken == hosts_[0];
        HostedModule& host = *hosts_[isFirst ? 0 : 1];
        std::vector<Announcement>& mine = announcements_[isFirst ? 0 : 1];
        mine.clear();
        if (host.droppedLogEntries() > 0)
            throw Error("a module made more requests in one block than this host logs");
        for (const LoggedRequest& r : host.log())
            if (r.request == mv::hostSetOutputState)
                mine.push_back({r.clock, r.index, r.value, static_cast<int32_t>(r.ptr)});
        host.clearLog();
        announced_ += static_cast<uint64_t>(mine.size());
        if (isFirst) {
            kept_.clear();
            for (int32_t p : outputs_)
                kept_.insert(kept_.end(), host.buffer(p), host.buffer(p) + count);
            return;
        }
        compareBlock(host, start, count);
    }

    uint64_t announcements() const { return announced_ / 2; }
    size_t outputs() const { return outputs_.size(); }

private:
    void compareBlock(const HostedModule& second, int32_t start, int32_t count) {
        int32_t sampleAt = INT32_MAX;
        std::string sample;
        for (size_t o = 0; o < outputs_.size(); ++o) {
            const float* mine = kept_.data() + o * static_cast<size_t>(count);
            const float* theirs = second.buffer(outputs_[o]);
            for (int32_t i = 0; i < count && start + i < sampleAt; ++i) {
                if (std::memcmp(mine + i, theirs + i, sizeof(float)) == 0) continue;
                sampleAt = start + i;
                sample = "sample " + std::to_string(sampleAt) + ", " +
                         second.plugs()[static_cast<size_t>(outputs_[o])].name + ": " +
                         showSample(mine[i]) + " from " + names_[0] + ", " + showSample(theirs[i]) +
                         " from " + names_[1];
                break;
            }
        }
        const std::vector<Announcement>& a = announcements_[0];
        const std::vector<Announcement>& b = announcements_[1];
        for (size_t k = 0; k < std::max(a.size(), b.size()); ++k) {
            if (k < a.size() && k < b.size() && a[k] == b[k]) continue;
            const int32_t at = std::min(k < a.size() ? a[k].hostClock : INT32_MAX,
                                        k < b.size() ? b[k].hostClock : INT32_MAX);
            if (at > sampleAt) break;  // the samples went wrong first
            auto told = [&](const std::vector<Announcement>& list, size_t name) {
                if (k >= list.size()) return names_[name] + " announces nothing";
                const Announcement& n = list[k];
                return names_[name] + " announces " +
                       second.plugs()[static_cast<size_t>(n.plug)].name + " " +
                       streamStateName(n.state) + " from clock " + std::to_string(n.clock);
            };
            throw Difference{"state announcement at sample " + std::to_string(at) + ": " +
                             told(a, 0) + "; " + told(b, 1)};
        }
        if (!sample.empty()) throw Difference{sample};
    }

    HostedModule* hosts_[2];
    std::string names_[2];
    std::vector<int32_t> outputs_;
    std::vector<float> kept_;
    std::vector<Announcement> announcements_[2];
    uint64_t announced_ = 0;
};

uint64_t freshSeed() {
    return (static_cast<uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
}

struct SessionCounts {
    RenderCounts counts;
    size_t outputs = 0;
    uint64_t announcements = 0;
};

// One session on fresh instances of both libraries. `whole`: every Signal input streams from
// the start and no block is cut, so each process call takes a whole block.
SessionCounts runSession(const CompareOptions& options, uint64_t seed, int32_t blockSize,
                         int64_t samples, bool whole) {
    ModuleLibrary first(options.first), second(options.second);
    HostSettings settings;
    settings.blockSize = blockSize;
    settings.plugCount = options.plugCount;
    HostedModule a(first.entries(), settings), b(second.entries(), settings);
    const std::string& nameA = options.first;
    const std::string& nameB = options.second;
    if (const std::string why = plugMismatch(a, b, nameA, nameB); !why.empty())
        throw Error("cannot compare: " + why);

    // The session: every input's stream states and samples, and list values changed while running.
    RenderJob job;
    job.samples = static_cast<int32_t>(samples);
    if (!whole) job.splitSeed = streamFor(seed, 0).next();
    std::vector<std::unique_ptr<SignalSource>> sources;
    for (const HostPlug& plug : a.plugs()) {
        if (!plug.isInput()) continue;
        Random random = streamFor(seed, 1 + static_cast<uint64_t>(plug.index));
        const int64_t meanGap = int64_t{1}
                                << (kShortestMeanGapLog2 + random.below(kMeanGapLog2Choices));
        auto gap = [&] {
            return 1 + static_cast<int64_t>(random.below(static_cast<uint32_t>(2 * meanGap)));
        };
        std::vector<ScheduledChange> changes;
        if (plug.isSignal()) {
            if (whole)
                changes.push_back({0, plug.index, ScheduledChange::StreamState, mv::Streaming});
            else
                for (int64_t clock = 0; clock < job.samples; clock += gap())
                    changes.push_back({static_cast<int32_t>(clock), plug.index,
                                       ScheduledChange::StreamState,
                                       static_cast<int32_t>(random.below(kStreamStates))});
            job.changes.insert(job.changes.end(), changes.begin(), changes.end());
            sources.push_back(
                std::make_unique<StimulusSource>(Random(random.next()), std::move(changes)));
            job.feeds.push_back({plug.index, sources.back().get()});
        } else if (!whole && plug.isList() && plug.description && plug.description->listText) {
            const std::vector<int32_t> values = listValues(*plug.description->listText);
            if (values.empty()) continue;
            for (int64_t clock = gap(); clock < job.samples; clock += gap())
                job.changes.push_back({static_cast<int32_t>(clock), plug.index,
                                       ScheduledChange::ListValue,
                                       values[random.below(static_cast<uint32_t>(values.size()))]});
        }
    }

    a.open();
    b.open();
    for (HostedModule* host : {&a, &b})
        for (const HostPlug& plug : host->plugs())
            if (plug.isList() && plug.isInput() && plug.description &&
                plug.description->defaultValue)
                host->setListValue(
                    plug.index,
                    static_cast<int16_t>(readListNumber(*plug.description->defaultValue)));
    a.clearLog();
    b.clearLog();

    CompareSink sink(a, b, nameA, nameB);
    SessionCounts result;
    result.counts = runBlocks({&a, &b}, std::move(job), sink);
    result.outputs = sink.outputs();
    result.announcements = sink.announcements();
    return result;
}

}  // namespace

int compareCommand(const CompareOptions& options) {
    if (options.samples < 1 || options.samples > INT32_MAX)
        throw Error("--samples: give 1 to 2147483647 samples");
    const uint64_t seed = options.seed ? *options.seed : freshSeed();
    const int64_t longSamples = std::min(options.samples, kLongBlocks * kLongBlock);
    SessionCounts main, tail;
    try {
        main = runSession(options, seed, options.blockSize, options.samples, false);
        try {
            tail = runSession(options, streamFor(seed, 0).next(), kLongBlock, longSamples, true);
        } catch (const Difference& d) {
            throw Difference{"in blocks of " + std::to_string(kLongBlock) +
                             " samples, each in one call: " + d.what};
        }
    } catch (const Difference& d) {
        std::printf("different: %s\n", printable(d.what).c_str());
        std::printf(
            "seed %llu; again: mvmhost compare %s %s --seed %llu --samples %lld --block %d%s\n",
            static_cast<unsigned long long>(seed), printable(options.first).c_str(),
            printable(options.second).c_str(), static_cast<unsigned long long>(seed),
            static_cast<long long>(options.samples), options.blockSize,
            options.plugCount >= 0 ? (" --plugs " + std::to_string(options.plugCount)).c_str()
                                   : "");
        return exit_status::kFailed;
    }
    const std::string summary =
        counted(options.samples, "sample", "samples") + " on " +
        counted(static_cast<long long>(main.outputs), "output", "outputs") + ", " +
        counted(main.counts.processCalls, "process call", "process calls") + ", " +
        counted(main.counts.changes, "change", "changes") + ", " +
        counted(static_cast<long long>(main.announcements), "announcement", "announcements") +
        ", then " + counted(longSamples, "sample", "samples") + " in " +
        counted(tail.counts.processCalls, "call", "calls") + " of up to " +
        std::to_string(kLongBlock) + " (seed " + std::to_string(seed) + ")";
    std::printf("identical: %s\n", summary.c_str());
    return exit_status::kPassed;
}

}  // namespace mvmhost
