// Checks of an opened instance at work: lifecycle, stretch geometry, determinism across
// splits and instances, events and real-time safety.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/exports.h"
#include "host/module_event.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/host_rules.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/runtime/alloc_hooks.h"

namespace mvmhost {
namespace {

constexpr uint64_t kSplitSalt = 0x5EED5EED5EEDull;

std::string blockText(int32_t b) { return " in block " + std::to_string(b); }

// --- lifecycle -----------------------------------------------------------------------------

// One create/close without open, through a host that answers nothing.
void createAndClose(const CheckContext& c) {
    mv::ModuleRecord* record =
        c.entries.makeModule(mv::kModuleIndex, mv::KindModule, QuietHost::callback, 1);
    if (!record) fail("makeModule(0, 1) answered null");
    const intptr_t answer = dispatch(record, mv::OpClose);
    if (answer != 1) fail("opcode 1 answered " + showWord(answer) + ", not 1");
}

void createOpenProcessClose(const CheckContext& c, uint64_t seed) {
    Rig rig(c, seed);
    rig.beginBlock();
    rig.process(0, c.blockSize);
}

}  // namespace

Outcome lifecycleCycles(CheckContext& c) {
    const int cycles = c.strict ? 1000 : 100;
    for (int i = 0; i < cycles; ++i) {
        within("in cycle " + std::to_string(i), [&] {
            createAndClose(c);
            createOpenProcessClose(c, c.seed + static_cast<uint64_t>(i));
            HostedModule described(c.entries, HostSettings{});  // described, never opened
        });
    }
    return pass(std::to_string(cycles) +
                " cycles of create/close, create/open/process/close and create/describe/close");
}

Outcome lifecycleMemory(CheckContext& c) {
    if (!allocationHooksAvailable()) return skip("this build cannot count heap allocations");
    const int cycles = c.strict ? 500 : 50;
    struct Kind {
        const char* what;
        bool open;
    } kinds[] = {{"create/close", false}, {"create/open/process/close", true}};
    for (const Kind& kind : kinds) {
        auto cycle = [&](int i) {
            if (kind.open)
                createOpenProcessClose(c, c.seed + static_cast<uint64_t>(i));
            else
                createAndClose(c);
        };
        for (int i = 0; i < 3; ++i)  // anything made once per library is made here
            cycle(i);
        AllocationCount count;
        {
            AllocationWatch watch;
            for (int i = 0; i < cycles; ++i) cycle(i);
            count = watch.count();
        }
        if (count.allocations > count.releases) {
            const uint64_t held = count.allocations - count.releases;
            return fail(std::to_string(held) + " heap blocks still held after " +
                        std::to_string(cycles) + " " + kind.what + " cycles (" +
                        std::to_string(held / static_cast<uint64_t>(cycles)) +
                        " or more per instance)");
        }
    }
    return pass("memory in use does not grow over " + std::to_string(cycles) +
                " cycles of each kind");
}

namespace {

// --- geometry and determinism ----------------------------------------------------------------

}  // namespace

Outcome stretchGeometry(CheckContext& c) {
    Rig rig(c, c.seed);
    const int32_t block = c.blockSize;
    int calls = 0;
    for (int32_t count : {0, 1, 2, 7, 17, 64, 250, 1024}) {
        if (count > block) continue;
        const int32_t starts[] = {0, 5, block - count};
        for (int k = 0; k < 3; ++k) {
            const int32_t start = starts[k];
            if (start + count > block || (k == 2 && (start == 0 || start == 5)))
                continue;  // taken already
            rig.beginBlock();
            ++calls;
            const std::string stretch = " (a call for " + std::to_string(count) +
                                        " samples at offset " + std::to_string(start) + ")";
            rig.process(start, count);
            for (int32_t p : rig.outputs()) {
                const float* samples = rig.host.buffer(p);
                for (int32_t i = 0; i < block; ++i) {
                    const bool inside = i >= start && i < start + count;
                    if (inside && isUnwritten(samples[i]))
                        return fail("left sample " + std::to_string(i) + " of " + rig.plugName(p) +
                                    " unwritten" + stretch);
                    if (!inside && !isUnwritten(samples[i]))
                        return fail("wrote sample " + std::to_string(i) + " of " + rig.plugName(p) +
                                    ", outside the stretch" + stretch);
                }
            }
        }
    }
    if (rig.outputs().empty()) return warn("the module has no Signal output to look at");
    return pass(std::to_string(calls) +
                " stretches: every output sample inside written, nothing outside, inputs kept");
}

// The reference runs to the end before the other instance is made, so that state shared
// between instances cannot pass for a split fault.

Outcome stretchReads(CheckContext& c) {
    Rig rig(c, c.seed, -1, Placement::Guarded);
    Random cuts(c.seed ^ kSplitSalt), events(c.seed + 2);
    const std::vector<int32_t> inputs = inputPlugs(rig.host);
    size_t stretches = 0;
    int delivered = 0;
    for (int32_t b = 0; b < c.blocks(); ++b) {
        rig.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(cuts, c.blockSize)) {
            // The inputs vary within the block: a host declares them Streaming.
            if (!inputs.empty() && (start == 0 || events.chance(20)) && start < c.blockSize) {
                rig.changeStreamState(inputs[events.below(static_cast<uint32_t>(inputs.size()))],
                                      mv::Streaming, rig.blockStart() + start);
                ++delivered;
            }
            within("in block " + std::to_string(b), [&] { rig.process(start, n); });
            start += n;
            ++stretches;
        }
    }
    return pass(std::to_string(stretches) + " stretches flush against unreadable pages and " +
                std::to_string(delivered) + " events: nothing read outside a stretch");
}

Outcome splitDeterminism(CheckContext& c) {
    // Two fresh instances in a row first: if they differ, state outlives an instance, and a
    // split cannot be blamed.
    std::vector<std::vector<float>> reference;
    for (int round = 0; round < 2; ++round) {
        Rig whole(c, c.seed);
        for (int32_t b = 0; b < c.blocks(); ++b) {
            whole.beginBlock();
            whole.process(0, c.blockSize);
            if (round == 0) {
                reference.push_back(whole.outputSamples());
                continue;
            }
            const std::string difference =
                whole.firstDifference(whole.outputSamples(), reference[static_cast<size_t>(b)]);
            if (!difference.empty())
                return fail(
                    "state survives from one instance to the next: a second fresh instance gives " +
                    difference + " from the first" + blockText(b));
        }
    }
    Rig split(c, c.seed);
    Random cuts(c.seed ^ kSplitSalt);
    size_t stretches = 0;
    for (int32_t b = 0; b < c.blocks(); ++b) {
        split.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(cuts, c.blockSize)) {
            split.process(start, n);
            start += n;
            ++stretches;
        }
        const std::string difference =
            split.firstDifference(split.outputSamples(), reference[static_cast<size_t>(b)]);
        if (!difference.empty())
            return fail("output depends on how a block is split: " + difference + " in one call" +
                        blockText(b));
    }
    return pass(std::to_string(c.blocks()) + " blocks give the same output whole and cut into " +
                std::to_string(stretches) + " stretches");
}

Outcome instanceIsolation(CheckContext& c) {
    constexpr int kInstances = 16;
    Random cuts(c.seed ^ kSplitSalt);
    std::vector<std::vector<int32_t>> splits;
    for (int32_t b = 0; b < c.blocks(); ++b) splits.push_back(randomSplit(cuts, c.blockSize));

    auto runBlock = [&](Rig& rig, int32_t b) {
        int32_t start = 0;
        for (int32_t n : splits[static_cast<size_t>(b)]) {
            rig.process(start, n);
            start += n;
        }
    };
    // Each instance alone, from open to close.
    std::vector<std::vector<std::vector<float>>> alone(kInstances);
    for (int i = 0; i < kInstances; ++i) {
        Rig rig(c, c.seed + static_cast<uint64_t>(i));
        for (int32_t b = 0; b < c.blocks(); ++b) {
            rig.beginBlock();
            runBlock(rig, b);
            alone[static_cast<size_t>(i)].push_back(rig.outputSamples());
        }
    }
    // All sixteen alive, one stretch of each in turn.
    std::vector<std::unique_ptr<Rig>> rigs;
    for (int i = 0; i < kInstances; ++i)
        rigs.push_back(std::make_unique<Rig>(c, c.seed + static_cast<uint64_t>(i)));
    for (int32_t b = 0; b < c.blocks(); ++b) {
        for (auto& rig : rigs) rig->beginBlock();
        int32_t start = 0;
        for (int32_t n : splits[static_cast<size_t>(b)]) {
            for (auto& rig : rigs) rig->process(start, n);
            start += n;
        }
        for (int i = 0; i < kInstances; ++i) {
            const Rig& rig = *rigs[static_cast<size_t>(i)];
            const std::string difference = rig.firstDifference(
                rig.outputSamples(), alone[static_cast<size_t>(i)][static_cast<size_t>(b)]);
            if (!difference.empty())
                return fail("instances share state: instance " + std::to_string(i) +
                            " of 16 processed in turn gives " + difference + " alone" +
                            blockText(b));
        }
    }
    return pass("16 instances processed in turn give what each gives alone");
}

namespace {

// The same stimulus every time: the same inputs in the same stretches, the inputs Streaming.
// Without `reference`, fills it; with it, names the first sample that differs from it.
std::string runLayout(const CheckContext& c, int32_t output, int32_t input,
                      std::vector<std::vector<float>>& reference) {
    Rig rig(c, c.seed);
    const bool shared = output >= 0;
    if (shared) rig.shareBuffer(output, input);
    Random cuts(c.seed ^ kSplitSalt);
    for (int32_t b = 0; b < c.blocks(); ++b) {
        rig.beginBlock();
        if (b == 0)
            for (int32_t p : rig.inputs())
                rig.changeStreamState(p, mv::Streaming, rig.blockStart());
        int32_t start = 0;
        for (int32_t n : randomSplit(cuts, c.blockSize)) {
            rig.process(start, n);
            start += n;
        }
        if (!shared) {
            reference.push_back(rig.outputSamples());
            continue;
        }
        const std::string difference =
            rig.firstDifference(rig.outputSamples(), reference[static_cast<size_t>(b)]);
        if (!difference.empty())
            return "with " + rig.plugName(output) + " on " + rig.plugName(input) +
                   "'s buffer (in place), " + difference + " on buffers of its own" + blockText(b) +
                   ": an input read after an output was written?";
    }
    return {};
}

}  // namespace

Outcome bufferLayouts(CheckContext& c) {
    std::vector<int32_t> outputs, inputs;
    {
        Rig probe(c, c.seed);
        inputs = probe.inputs();
        for (int32_t p : probe.outputs())
            if (probe.host.plugs()[static_cast<size_t>(p)].variable) outputs.push_back(p);
    }
    if (outputs.empty() || inputs.empty())
        return skip("the module has no Signal output and input that could share a buffer");
    std::vector<std::vector<float>> reference;
    runLayout(c, -1, -1, reference);
    for (int32_t output : outputs)
        for (int32_t input : inputs) {
            const std::string difference = runLayout(c, output, input, reference);
            if (!difference.empty()) return fail(difference);
        }
    return pass(std::to_string(outputs.size() * inputs.size()) +
                " layouts with an output on an input's buffer give what separate buffers give");
}

namespace {

// --- long stretches and the announced block size ---------------------------------------------

constexpr int32_t kLongestBlock = 65536;  // the largest block size a host announces
constexpr int32_t kShortBlock = 64;

// What a host does first with varying inputs: says so.
void declareStreaming(Rig& rig) {
    for (int32_t p : rig.inputs()) rig.changeStreamState(p, mv::Streaming, rig.blockStart());
}

}  // namespace

Outcome longStretches(CheckContext& c) {
    CheckContext longContext = c;
    longContext.blockSize = kLongestBlock;
    const int32_t blocks = c.strict ? 6 : 2;
    Random cuts(c.seed ^ kSplitSalt);
    // The reference takes every block in stretches no longer than the usual block.
    Rig pieces(longContext, c.seed);
    std::vector<std::vector<float>> reference;
    for (int32_t b = 0; b < blocks; ++b) {
        pieces.beginBlock();
        if (b == 0) declareStreaming(pieces);
        for (int32_t start = 0; start < kLongestBlock; start += c.blockSize) {
            int32_t at = start;
            for (int32_t n : randomSplit(cuts, c.blockSize)) {
                pieces.host.process(at, n);
                at += n;
            }
        }
        reference.push_back(pieces.outputSamples());
    }
    Rig whole(longContext, c.seed);
    if (whole.outputs().empty()) return skip("the module has no Signal output to look at");
    for (int32_t b = 0; b < blocks; ++b) {
        whole.beginBlock();
        if (b == 0) declareStreaming(whole);
        // A whole block in one call, then one all but a few samples long at an offset.
        const int32_t head = b % 2 == 0 ? 0 : 3;
        if (head > 0) whole.process(0, head);
        whole.process(head, kLongestBlock - head);
        const std::string call = " in a call for " + std::to_string(kLongestBlock - head) +
                                 " samples at offset " + std::to_string(head) +
                                 " after opcode 3 announced " + std::to_string(kLongestBlock);
        for (int32_t p : whole.outputs()) {
            const float* samples = whole.host.buffer(p);
            for (int32_t i = 0; i < kLongestBlock; ++i)
                if (isUnwritten(samples[i]))
                    return fail("left sample " + std::to_string(i) + " of " + whole.plugName(p) +
                                " unwritten" + call);
        }
        const std::string difference =
            whole.firstDifference(whole.outputSamples(), reference[static_cast<size_t>(b)]);
        if (!difference.empty())
            return fail("a long stretch gives other output than the same samples in short ones: " +
                        difference + " in stretches of at most " + std::to_string(c.blockSize) +
                        call);
    }
    return pass(std::to_string(blocks) + " blocks of " + std::to_string(kLongestBlock) +
                " samples in one call each give what they give in short stretches");
}

Outcome blockSizeIndependence(CheckContext& c) {
    CheckContext shortContext = c;
    shortContext.blockSize = kShortBlock;
    const int32_t blocks = 4 * c.blocks();
    const int32_t announced[] = {kShortBlock, c.blockSize, kLongestBlock};
    std::vector<std::vector<float>> reference;
    for (int32_t size : announced) {
        // The same stretches, none longer than the smallest size announced, for each size.
        Rig rig(shortContext, c.seed, -1, Placement::Plain, size);
        if (rig.outputs().empty()) return skip("the module has no Signal output to look at");
        Random cuts(c.seed ^ kSplitSalt);
        for (int32_t b = 0; b < blocks; ++b) {
            rig.beginBlock();
            if (b == 0) declareStreaming(rig);
            int32_t start = 0;
            for (int32_t n : randomSplit(cuts, kShortBlock)) {
                rig.host.process(start, n);
                start += n;
            }
            if (size == announced[0]) {
                reference.push_back(rig.outputSamples());
                continue;
            }
            const std::string difference =
                rig.firstDifference(rig.outputSamples(), reference[static_cast<size_t>(b)]);
            if (!difference.empty())
                return fail("output depends on the block size opcode 3 announced: with " +
                            std::to_string(size) + ", " + difference + " with " +
                            std::to_string(announced[0]) + blockText(b));
        }
    }
    return pass("block sizes of 64, " + std::to_string(c.blockSize) + " and " +
                std::to_string(kLongestBlock) +
                " announced give the same output for the same stretches");
}

namespace {

// --- events --------------------------------------------------------------------------------

}  // namespace

namespace {

struct PokedRun {
    std::vector<std::vector<float>> blocks;  // the outputs, block by block
    std::vector<std::string> outputs;        // their names
    std::vector<LoggedRequest> log;
    int pokes = 0;
};

// One fresh instance through the stretches and stream-state changes of the seed, poked after
// every stretch when `poke` is not null.
PokedRun runPoked(CheckContext& c, const std::string& what, const Poke* poke) {
    PokedRun run;
    Rig rig(c, c.seed);
    Random cuts(c.seed ^ kSplitSalt), changes(c.seed + 1), pokes(c.seed + 2);
    const std::vector<int32_t> inputs = inputPlugs(rig.host);
    for (int32_t b = 0; b < c.blocks(); ++b) {
        rig.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(cuts, c.blockSize)) {
            rig.process(start, n);
            start += n;
            if (start >= c.blockSize) continue;
            if (poke) {
                const Untouched before(rig.host);
                const std::string done = (*poke)(rig, pokes, rig.blockStart() + start);
                ++run.pokes;
                if (!done.empty()) fail(done);
                const std::string changed = before.changed(rig.host);
                if (!changed.empty()) fail(what + " " + changed);
            }
            if (inputs.empty() || !changes.chance(10)) continue;
            const int32_t plug = inputs[changes.below(static_cast<uint32_t>(inputs.size()))];
            rig.changeStreamState(plug, static_cast<mv::StreamState>(changes.below(3)),
                                  rig.blockStart() + start);
        }
        run.blocks.push_back(rig.outputSamples());
    }
    for (int32_t p : rig.outputs()) run.outputs.push_back(rig.plugName(p));
    run.log = rig.host.log();
    return run;
}

std::string showRequest(const std::vector<LoggedRequest>& log, size_t at) {
    if (at >= log.size()) return "nothing";
    return "request " + std::to_string(log[at].request) + " (plug " +
           std::to_string(log[at].index) + ", value " + std::to_string(log[at].value) +
           ") at clock " + std::to_string(log[at].clock);
}

// The first request where two logs part, or the end of both.
size_t firstParting(const std::vector<LoggedRequest>& a, const std::vector<LoggedRequest>& b) {
    size_t i = 0;
    for (; i < a.size() && i < b.size(); ++i)
        if (a[i].request != b[i].request || a[i].index != b[i].index || a[i].value != b[i].value ||
            a[i].clock != b[i].clock)
            break;
    return i;
}

}  // namespace

int comparePoked(CheckContext& c, const std::string& what, const Poke& poke) {
    // Fresh instances one after the other: two without pokes, then one with them. Where the
    // first two already announce differently, what an instance announces depends on those
    // before it (state-change-determinism's finding), and only the outputs are compared.
    const PokedRun quiet = runPoked(c, what, nullptr);
    const PokedRun again = runPoked(c, what, nullptr);
    const PokedRun poked = runPoked(c, what, &poke);
    const auto block = static_cast<size_t>(c.blockSize);
    for (size_t b = 0; b < poked.blocks.size(); ++b)
        for (size_t i = 0; i < poked.blocks[b].size(); ++i) {
            if (sameSample(poked.blocks[b][i], again.blocks[b][i])) continue;
            fail(what + " changed the output: " + poked.outputs[i / block] + " at clock " +
                 std::to_string(b * block + i % block) + " is " + showSample(poked.blocks[b][i]) +
                 " against " + showSample(again.blocks[b][i]) + " without them");
        }
    const size_t settled = firstParting(quiet.log, again.log);
    if (settled < quiet.log.size() || settled < again.log.size()) return poked.pokes;
    const size_t at = firstParting(poked.log, again.log);
    if (at < poked.log.size() || at < again.log.size())
        fail(what + " changed the module's state: after them the stream-state changes made " +
             showRequest(poked.log, at) + " where without them they made " +
             showRequest(again.log, at));
    return poked.pokes;
}

Outcome unknownEvents(CheckContext& c) {
    const auto& types = kUnknownEventTypes;
    // Half of them look like a state change or a data event but for the type: a module that
    // reads the fields before the type acts on those.
    const int delivered =
        comparePoked(c, "events of unknown types", [&](Rig& rig, Random& random, int32_t clock) {
            const std::vector<int32_t> inputs = inputPlugs(rig.host);
            mv::ModuleEvent event{};
            event.clock = clock;
            event.type = types[random.below(sizeof types / sizeof types[0])];
            if (random.chance(50) && !inputs.empty()) {
                event.param1 = static_cast<int32_t>(random.below(3));
                event.param2 = static_cast<int32_t>(random.below(4));
                event.param3 = inputs[random.below(static_cast<uint32_t>(inputs.size()))];
            } else {
                event.param1 = static_cast<int32_t>(random.next());
                event.param2 = static_cast<int32_t>(random.next());
                event.param3 = static_cast<intptr_t>(random.next() | 1);  // no routine lives there
            }
            rig.host.deliver(event);  // a crash there is a crash, not a read outside
            return std::string();
        });
    return pass(std::to_string(delivered) +
                " events of unknown types, some with a real plug and state: no request, no "
                "change of the record, the output or the announcements that follow");
}

namespace {

// --- real-time safety ------------------------------------------------------------------------

}  // namespace

Outcome realtimeAllocation(CheckContext& c) {
    if (!allocationHooksAvailable()) return skip("this build cannot count heap allocations");
    Rig rig(c, c.seed);
    Random random(c.seed ^ kSplitSalt);
    const std::vector<int32_t> inputs = inputPlugs(rig.host);
    int calls = 0, events = 0;
    for (int32_t b = 0; b < c.blocks(); ++b) {
        rig.beginBlock();
        int32_t start = 0;
        for (int32_t n : randomSplit(random, c.blockSize)) {
            AllocationCount count;
            {
                AllocationWatch watch;
                rig.host.process(start, n);
                count = watch.count();
            }
            ++calls;
            if (count.allocations + count.releases > 0)
                return fail("the process entry allocated or freed heap memory " +
                            std::to_string(count.allocations + count.releases) +
                            " times in a call for " + std::to_string(n) + " samples at offset " +
                            std::to_string(start) + blockText(b));
            start += n;
            if (inputs.empty() || start == c.blockSize) continue;
            mv::ModuleEvent event{};
            event.clock = rig.blockStart() + start;
            switch (random.below(3)) {
            case 0:
                event.type = mv::PlugStateChange;
                break;
            case 1:
                event.type = mv::DataEvent;
                break;
            default:
                event.type = 7;
                break;  // a type no module acts on
            }
            event.param1 =
                event.type == mv::PlugStateChange ? static_cast<int32_t>(random.below(3)) : 5;
            event.param3 = inputs[random.below(static_cast<uint32_t>(inputs.size()))];
            {
                AllocationWatch watch;
                rig.host.deliver(event);
                count = watch.count();
            }
            ++events;
            if (count.allocations + count.releases > 0)
                return fail("the event entry allocated or freed heap memory " +
                            std::to_string(count.allocations + count.releases) +
                            " times for an event of type " + std::to_string(event.type) + " on " +
                            rig.plugName(static_cast<int32_t>(event.param3)));
        }
    }
    return pass(std::to_string(calls) + " process calls and " + std::to_string(events) +
                " events without a heap allocation");
}

}  // namespace mvmhost
