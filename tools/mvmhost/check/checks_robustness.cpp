// The strict checks: what a careful host never does, but a module should survive all the
// same, and the pedantic rules.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/exports.h"
#include "host/module_event.h"
#include "host/plug_info.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/runtime/alloc_hooks.h"

namespace mvmhost {
namespace {

std::string blockText(int32_t b) { return " in block " + std::to_string(b); }

// Runs a few blocks in random stretches with a stream-state change now and then.
void exercise(Rig& rig, const CheckContext& c, Random& random, int32_t plugCount) {
    for (int32_t b = 0; b < 3; ++b) {
        rig.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            rig.process(start, n);
            start += n;
            if (plugCount > 0 && random.chance(10))
                rig.host.changeStreamState(
                    static_cast<int32_t>(random.below(static_cast<uint32_t>(plugCount))),
                    static_cast<mv::StreamState>(random.below(3)), rig.blockStart() + start);
        }
    }
}

}  // namespace

Outcome plugCounts(CheckContext& c) {
    int32_t described;
    {
        Rig probe(c, c.seed);
        described = static_cast<int32_t>(probe.host.plugs().size());
    }
    Random random(c.seed);
    std::vector<int32_t> counts = {0, 1, described - 1, described + 3};
    counts.erase(std::remove_if(counts.begin(), counts.end(), [](int32_t n) { return n < 0; }),
                 counts.end());
    for (int32_t count : counts) {
        Rig rig(c, c.seed, count);
        within("with a plug count of " + std::to_string(count),
               [&] { exercise(rig, c, random, count); });
    }
    return pass("plug counts 0, 1, one fewer and three more than described run without harm");
}

Outcome nullCallback(CheckContext& c) {
    mv::ModuleRecord* record = c.entries.makeModule(mv::kModuleIndex, mv::KindModule, nullptr, 0);
    if (!record) return fail("makeModule(0, 1) with a null callback answered null");
    // The host still hands buffers to every described Signal plug and the default to every list.
    const size_t guard = 16, size = static_cast<size_t>(c.blockSize) + 2 * guard;
    std::vector<std::vector<float>> buffers;
    std::vector<mv::PlugInfo> plugs;
    for (int32_t d = 0; d < 256; ++d) {
        mv::PlugInfo info{};
        if (dispatch(record, mv::OpGetPlugProperties, d, 0, &info) != 1) break;
        plugs.push_back(info);
    }
    dispatch(record, mv::OpSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(record, mv::OpSetBlockSize, 0, c.blockSize);
    dispatch(record, mv::OpOpen);
    Random random(c.seed);
    for (const mv::PlugInfo& info : plugs) {
        if (!info.variable) continue;
        if (info.datatype == mv::Signal) {
            buffers.emplace_back(size, unwrittenSample());
            float* samples = buffers.back().data() + guard;
            if (info.direction == mv::PlugInput) fillSignal(random, samples, c.blockSize);
            std::memcpy(info.variable, &samples, sizeof samples);
        } else if (info.datatype == mv::Enumerated) {
            const int16_t value =
                info.defaultValue
                    ? static_cast<int16_t>(std::strtol(info.defaultValue, nullptr, 10))
                    : 0;
            std::memcpy(info.variable, &value, sizeof value);
        }
    }
    std::string problem;
    int32_t start = 0;
    for (int32_t n : randomSplit(random, c.blockSize)) {
        record->processEntry(record->instance, start, n);
        start += n;
        mv::ModuleEvent event{start, mv::PlugStateChange, mv::Streaming, 0, 0, 0};
        record->eventEntry(record->instance, &event);
    }
    dispatch(record, mv::OpGetProcessBindingInfo);
    for (const std::vector<float>& b : buffers) {
        for (size_t i = 0; i < guard && problem.empty(); ++i)
            if (!isUnwritten(b[i]) || !isUnwritten(b[b.size() - 1 - i]))
                problem = "wrote past a buffer";
    }
    const intptr_t closed = dispatch(record, mv::OpClose);
    if (!problem.empty()) return fail(problem + " with a null callback");
    if (closed != 1) return fail("opcode 1 answered " + showWord(closed) + " with a null callback");
    return pass("an instance without a callback opens, processes, takes events and closes");
}

Outcome eventsBeforeOpen(CheckContext& c) {
    HostSettings settings;
    settings.blockSize = c.blockSize;
    HostedModule host(c.entries, settings);
    Random random(c.seed);
    const int32_t count = static_cast<int32_t>(host.plugs().size());
    for (int32_t p = 0; p < count + 2; ++p)
        for (int32_t state = 0; state < 3; ++state)
            host.changeStreamState(p, static_cast<mv::StreamState>(state), 0);
    for (int32_t type : {int32_t{mv::DataEvent}, 1, 3, 100}) host.deliver({0, type, 1, 2, 0, 0});
    host.open();
    Rig rig(c, c.seed);  // the same module, opened normally, still works beside it
    exercise(rig, c, random, count);
    return pass("stream-state changes, data and unknown events before open do no harm");
}

Outcome negativeCounts(CheckContext& c) {
    Rig rig(c, c.seed);
    for (int32_t count : {-1, -7, -1024, INT32_MIN}) {
        rig.beginBlock();
        rig.process(0, count);
        for (int32_t p : rig.outputs())
            for (int32_t i = 0; i < c.blockSize; ++i)
                if (!isUnwritten(rig.host.buffer(p)[i]))
                    return fail("a call for " + std::to_string(count) + " samples wrote sample " +
                                std::to_string(i) + " of " + rig.plugName(p));
    }
    return pass("calls for a negative number of samples write nothing");
}

Outcome processRequests(CheckContext& c) {
    Rig rig(c, c.seed);
    Random random(c.seed);
    const std::vector<int32_t> inputs = inputPlugs(rig.host);
    const uint64_t pointersAtOpen = rig.host.requestCount(mv::hostGetPlugValuePointer);
    for (int32_t b = 0; b < c.blocks(); ++b) {
        rig.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            const uint64_t before = totalRequests(rig.host);
            rig.process(start, n);
            if (totalRequests(rig.host) != before)
                return fail("the process entry made a host request in a call for " +
                            std::to_string(n) + " samples" + blockText(b));
            start += n;
            if (inputs.empty() || start == c.blockSize || !random.chance(20)) continue;
            const int32_t plug = inputs[random.below(static_cast<uint32_t>(inputs.size()))];
            rig.changeStreamState(plug, mv::Streaming, rig.blockStart() + start);
            if (rig.host.requestCount(mv::hostGetPlugValuePointer) != pointersAtOpen)
                return fail(
                    "asked for a buffer (request 7) after open, in the handler of a state change "
                    "of " +
                    rig.plugName(plug) + "; a host answers it while opening only");
        }
    }
    return pass("the process entry asks the host nothing; buffers are asked for at open only");
}

Outcome reopen(CheckContext& c) {
    Rig rig(c, c.seed);
    for (int32_t b = 0; b < 2; ++b) {
        rig.beginBlock();
        rig.process(0, c.blockSize);
    }
    AllocationCount count;
    {
        AllocationWatch watch;
        for (int i = 0; i < 20; ++i) rig.host.open();
        count = watch.count();
    }
    rig.setListDefaults();
    if (allocationHooksAvailable() && count.allocations > count.releases)
        return fail("opening again keeps heap memory: " +
                    std::to_string(count.allocations - count.releases) +
                    " blocks after 20 further opens");
    for (int32_t b = 0; b < 2; ++b) {
        rig.beginBlock();
        within("after a second open", [&] { rig.process(0, c.blockSize); });
        for (float sample : rig.outputSamples())
            if (isUnwritten(sample))
                return fail("after a second open, the module no longer writes its outputs");
    }
    return pass("opening an instance again keeps no memory and it goes on processing");
}

}  // namespace mvmhost
