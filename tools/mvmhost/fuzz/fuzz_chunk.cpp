#include "tools/mvmhost/fuzz/fuzz_chunk.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/host_rules.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/contract/sample_values.h"
#include "tools/mvmhost/contract/static_rule.h"
#include "tools/mvmhost/contract/stimulus.h"
#include "tools/mvmhost/runtime/alloc_hooks.h"
#include "tools/mvmhost/runtime/guarded_memory.h"
#include "tools/mvmhost/runtime/hosted_module.h"

namespace mvmhost {

void ChunkJournal::begin() {
    actions = 0;
    fired[0] = '\0';
    warnings = 0;
    firstWarning[0] = '\0';
}

void ChunkJournal::noteWarning(const char* text) {
    if (warnings++ == 0 && std::snprintf(firstWarning, kFiredBytes, "%s", text) < 0)
        firstWarning[0] = '\0';
}

void ChunkJournal::noteAction(const char* text) {
    ++actions;
    // A long line is cut: what it says first is what a reader needs.
    if (std::snprintf(lines[actions % kLines], kLineBytes, "#%llu %s",
                      static_cast<unsigned long long>(actions), text) < 0)
        lines[actions % kLines][0] = '\0';
}

void ChunkJournal::noteFinding(const char* text) {
    if (std::snprintf(fired, kFiredBytes, "%s", text) < 0)
        std::strcpy(fired, "an invariant failed");
}

void ChunkJournal::printTail(std::FILE* out, const char* indent) const {
    const uint64_t first = actions > kLines ? actions - kLines + 1 : 1;
    for (uint64_t n = first; n <= actions; ++n)
        std::fprintf(out, "%s%s\n", indent, lines[n % kLines]);
}

namespace {

constexpr int kActionsPerChunk = 300;
constexpr size_t kMaxInstances = 3;
// Block sizes a host announces with opcode 3; now and then the largest one it may.
constexpr int32_t kBlockSizes[] = {1, 2, 3, 16, 64, 100, 256, 1024, 4096};
constexpr int32_t kLargestBlock = 65536;
constexpr float kSampleRates[] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
// Samples beside an output stretch, on its side away from the guard page, that must stay
// unwritten.
constexpr int32_t kOpenSideSamples = 8;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[ChunkJournal::kFiredBytes];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// What an input carries between stretches: a held value while Static, anything while Streaming.
struct InputModel {
    int32_t state = mv::Static;
    float held = 0.0f;
};

struct Instance {
    Instance(const EntryPoints& entries, int id, const HostSettings& settings)
        : host(entries, settings), id(id), block(settings.blockSize), still(host.plugs().size()) {}

    HostedModule host;
    int id;
    int32_t block;
    int32_t capacity = 0;  // longest stretch a buffer takes
    bool opened = false;
    bool started = false;
    bool beyondPromises = false;  // given something a host does not promise (--strict)
    bool namedUnmade = false;     // given an event for a plug the host did not make
    bool ordinaryOnly = false;    // fed only ordinary inputs, so that its outputs are judged
    bool fedOrdinary = true;      // no input since open was other than ordinary
    // Some Signal plug's buffer came through request 7 at open: the host's own, one block
    // long, so no stretch may run past the block.
    bool requestedBuffers = false;
    int32_t blockStart = 0;
    int32_t position = 0;  // the next stretch's offset in the current block
    uint64_t calls = 0;
    size_t logSeen = 0;
    std::vector<InputModel> inputs;  // by plug index
    StaticRule still;                // what outputs announced Static owe the host
    std::vector<std::unique_ptr<GuardedRegion>>
        buffers;  // by plug index; Signal plugs with a variable
};

class Chunk {
public:
    Chunk(const EntryPoints& entries, uint64_t seed, bool strict, ChunkJournal& journal,
          std::FILE* trace, int32_t plugCount)
        : entries_(entries),
          random_(seed),
          strict_(strict),
          journal_(journal),
          trace_(trace),
          plugCount_(plugCount) {}

    void run();
    // Whether any instance closed so far was given more than a host promises.
    bool wentBeyond() const { return wentBeyond_; }
    // After a finding the instances are left as they are, and reachable: closing them could
    // hide it.
    void abandon() {
        static auto* kept = new std::vector<std::unique_ptr<Instance>>();
        for (auto& in : instances_) kept->push_back(std::move(in));
        instances_.clear();
    }

private:
    void act(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    template <size_t N>
    int32_t pick(const int32_t (&from)[N]) {
        return from[random_.below(static_cast<uint32_t>(N))];
    }

    void oneAction();
    void make();
    void close(size_t which);
    void open(Instance& in);
    void stretch(Instance& in, bool withEvent);
    int32_t stretchLength(Instance& in);
    mv::ModuleEvent stretchEvent(Instance& in, int32_t clock);
    void lookAtInputs(Instance& in, int32_t count, bool endFlush,
                      const std::vector<float>& inputCopy, const std::string& call);
    void lookAtOutputs(Instance& in, int32_t count, bool endFlush,
                       const std::vector<float*>& outputsAt, int32_t clock,
                       const std::string& call);
    void setListValue(Instance& in);
    void opcode(Instance& in);
    mv::ModuleEvent randomEvent(Instance& in, int32_t clock);

    void layOut(Instance& in, int32_t count, bool endFlush, std::vector<float>& inputCopy,
                std::vector<float*>& outputsAt);
    float heldValue(const Instance& in);
    void lookAtValues(Instance& in, const HostPlug& plug, const float* at, int32_t count,
                      const std::string& call);
    void noteChange(Instance& in) { in.still.concern(in.blockStart + in.position); }
    void lookAtLog(Instance& in);
    template <class Call>
    void withoutAllocation(const char* entry, const std::string& what, Call call);

    const EntryPoints& entries_;
    Random random_;
    bool strict_;
    ChunkJournal& journal_;
    std::FILE* trace_;
    int32_t plugCount_;  // the host's answer to request 14; negative: as many as described
    std::vector<std::unique_ptr<Instance>> instances_;
    Instance* current_ = nullptr;  // the one the action in progress is about
    int nextId_ = 1;
    bool wentBeyond_ = false;
    // A finding no odd host action excuses: a request for a plug the host never made, while
    // the host named none to it (another plug count is the host's right).
    bool unexcused_ = false;
};

void Chunk::act(const char* pattern, ...) {
    char text[ChunkJournal::kLineBytes];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    journal_.noteAction(text);
    if (trace_) std::fprintf(trace_, "%s\n", text);
}

// A value an input holds: most often an ordinary level (0, or a magnitude from 2^-20 to 16,
// near the usual thresholds), now and then an edge.
float Chunk::heldValue(const Instance& in) {
    if (in.ordinaryOnly) return ordinaryValue(random_);
    static const float levels[] = {0.0f, 0.333f, 0.33299997f, 0.5f, 1.0f, -1.0f, 0.1f};
    static const float edges[] = {std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::denorm_min(),
                                  -1e-40f,
                                  3.0e38f,
                                  -3.0e38f};
    const uint32_t roll = random_.below(100);
    if (roll < 45) return levels[random_.below(sizeof levels / sizeof *levels)];
    if (roll < 90)
        return (random_.chance(50) ? 1.0f : -1.0f) *
               std::ldexp(random_.uniform(1.0f, 2.0f), static_cast<int>(random_.below(25)) - 20);
    return edges[random_.below(sizeof edges / sizeof *edges)];
}

void Chunk::make() {
    HostSettings settings;
    settings.blockSize = random_.chance(3)
                             ? kLargestBlock
                             : kBlockSizes[random_.below(sizeof kBlockSizes / sizeof *kBlockSizes)];
    settings.plugCount = plugCount_;
    const bool otherCount = strict_ && random_.chance(10);
    if (otherCount) settings.plugCount = static_cast<int32_t>(random_.below(9));
    const int id = nextId_++;
    act("instance %d: make, block size %d%s", id, settings.blockSize,
        settings.plugCount >= 0 ? format(", %d plugs", settings.plugCount).c_str() : "");
    auto in = std::make_unique<Instance>(entries_, id, settings);
    // Under --strict some stretches run past the block size opcode 3 announced.
    in->capacity = strict_ ? 2 * in->block : in->block;
    in->beyondPromises = otherCount;
    in->ordinaryOnly = random_.chance(50);
    const size_t plugs = in->host.plugs().size();
    in->inputs.resize(plugs);
    in->buffers.resize(plugs);
    for (const HostPlug& plug : in->host.plugs())
        in->requestedBuffers = in->requestedBuffers || (plug.isSignal() && !plug.variable);
    for (const HostPlug& plug : in->host.plugs())
        if (plug.isSignal() && plug.variable)
            in->buffers[static_cast<size_t>(plug.index)] = std::make_unique<GuardedRegion>(
                static_cast<size_t>(in->capacity + kOpenSideSamples));
    lookAtLog(*in);
    instances_.push_back(std::move(in));
}

void Chunk::close(size_t which) {
    act("instance %d: close", instances_[which]->id);
    wentBeyond_ = wentBeyond_ || instances_[which]->beyondPromises;
    current_ = nullptr;
    instances_.erase(instances_.begin() + static_cast<std::ptrdiff_t>(which));
}

void Chunk::open(Instance& in) {
    act("instance %d: open%s", in.id, in.opened ? " again" : "");
    in.beyondPromises = in.beyondPromises || in.opened;
    in.still.open(in.blockStart + in.position);
    in.host.open();
    in.opened = true;
    for (const HostPlug& plug : in.host.plugs())
        if (plug.isList() && plug.description)
            in.host.setListValue(plug.index, defaultListValue(*plug.description));
    for (InputModel& input : in.inputs) input = InputModel{};
    in.fedOrdinary = true;
    lookAtLog(in);
}

template <class Call>
void Chunk::withoutAllocation(const char* entry, const std::string& what, Call call) {
    AllocationCount count;
    {
        AllocationWatch watch;
        call();
        count = watch.count();
    }
    if (allocationHooksAvailable() && count.allocations + count.releases > 0)
        fault(format("the %s allocated or freed heap memory %llu times %s", entry,
                     static_cast<unsigned long long>(count.allocations + count.releases),
                     what.c_str()));
}

// Requests so far must name plugs the host made; announcements an output, a valid state and no
// clock before the host's.
void Chunk::lookAtLog(Instance& in) {
    const std::vector<LoggedRequest>& log = in.host.log();
    for (; in.logSeen < log.size(); ++in.logSeen) {
        const LoggedRequest& r = log[in.logSeen];
        const std::string stray = strayPlug(r, static_cast<int32_t>(in.host.plugs().size()));
        if (!stray.empty()) {
            unexcused_ = !in.namedUnmade;
            fault(stray);
        }
        if (r.request != mv::hostSetOutputState) continue;
        const auto& plugs = in.host.plugs();
        if (r.index < 0 || static_cast<size_t>(r.index) >= plugs.size() ||
            !plugs[static_cast<size_t>(r.index)].isOutput())
            fault(format("announced a stream state for plug %d, which is not an output", r.index));
        if (r.value < mv::Static || r.value > mv::Streaming)
            fault(format("announced stream state %d for %s; states are 0, 1 and 2", r.value,
                         plugs[static_cast<size_t>(r.index)].name.c_str()));
        const int32_t clock = static_cast<int32_t>(r.ptr);
        if (clock < r.clock)
            fault(format("announced %s's state at clock %d, before the host's clock %d",
                         plugs[static_cast<size_t>(r.index)].name.c_str(), clock, r.clock));
        in.still.announce(r.index, r.value, clock, r.clock);
    }
}

// Puts the next stretch of every Signal plug flush against a guard page and points the plug
// there; inputs get samples their stream state allows, outputs the unwritten marker (or, now
// and then, an input's own samples: processing in place).
void Chunk::layOut(Instance& in, int32_t count, bool endFlush, std::vector<float>& inputCopy,
                   std::vector<float*>& outputsAt) {
    const int32_t laid = std::max(count, 1);  // the sample at the clock of an event before it
    float* someInput = nullptr;
    inputCopy.clear();
    for (const HostPlug& plug : in.host.plugs()) {
        if (!plug.isSignal() || !plug.isInput()) continue;
        InputModel& model = in.inputs[static_cast<size_t>(plug.index)];
        GuardedRegion* buffer = in.buffers[static_cast<size_t>(plug.index)].get();
        float* at = buffer ? (endFlush ? buffer->end() - laid : buffer->begin())
                           : in.host.buffer(plug.index) + in.position;
        if (!buffer && in.position + laid > in.block)
            continue;  // a buffer the module holds from open
        if (model.state == mv::Streaming)
            (in.ordinaryOnly ? fillOrdinary : fillSignal)(random_, at, laid);
        else
            std::fill_n(at, laid, model.held);
        in.fedOrdinary = in.fedOrdinary && std::all_of(at, at + laid, isOrdinaryInput);
        if (model.state == mv::Streaming) model.held = at[laid - 1];
        in.still.input(plug.index, at, laid, in.blockStart + in.position);
        inputCopy.insert(inputCopy.end(), at, at + laid);
        if (buffer) {
            float* base = at - in.position;
            std::memcpy(plug.variable, &base, sizeof base);
            someInput = base;
        }
    }
    outputsAt.clear();
    for (const HostPlug& plug : in.host.plugs()) {
        if (!plug.isSignal() || !plug.isOutput()) continue;
        GuardedRegion* buffer = in.buffers[static_cast<size_t>(plug.index)].get();
        if (!buffer) {
            outputsAt.push_back(nullptr);
            continue;
        }
        float* base;
        if (someInput && random_.chance(15)) {
            base = someInput;
            outputsAt.push_back(nullptr);
        } else {
            float* at = endFlush ? buffer->end() - laid - kOpenSideSamples : buffer->begin();
            std::fill_n(at, laid + kOpenSideSamples, unwrittenSample());
            if (endFlush) at += kOpenSideSamples;
            base = at - in.position;
            outputsAt.push_back(at);
        }
        std::memcpy(plug.variable, &base, sizeof base);
    }
}

mv::ModuleEvent Chunk::randomEvent(Instance& in, int32_t clock) {
    std::vector<int32_t> inputs;
    for (const HostPlug& plug : in.host.plugs())
        if (plug.isInput() && plug.datatype >= 0) inputs.push_back(plug.index);
    mv::ModuleEvent event{};
    event.clock = clock;
    const uint32_t roll = random_.below(100);
    if (roll < 70 && !inputs.empty()) {
        event.type = mv::PlugStateChange;
        event.param3 = inputs[random_.below(static_cast<uint32_t>(inputs.size()))];
        event.param1 = static_cast<int32_t>(random_.below(3));
        if (strict_ && random_.chance(10)) {
            event.param3 = random_.chance(50)
                               ? -1 - static_cast<int32_t>(random_.below(3))
                               : static_cast<int32_t>(in.host.plugs().size() + random_.below(4));
            in.beyondPromises = true;
            in.namedUnmade = true;
        }
        if (strict_ && random_.chance(10)) {
            event.param1 = random_.chance(50) ? 3 + static_cast<int32_t>(random_.below(100)) : -1;
            in.beyondPromises = true;
        }
    } else if (roll < 85) {
        event.type = mv::DataEvent;
        event.param1 = static_cast<int32_t>(random_.next());
        event.param2 = static_cast<int32_t>(random_.next());
    } else {
        event.type = pick(kUnknownEventTypes);
        event.param1 = static_cast<int32_t>(random_.below(3));
        event.param3 =
            inputs.empty() ? 0 : inputs[random_.below(static_cast<uint32_t>(inputs.size()))];
    }
    return event;
}

// One call of the process entry for the next stretch of the current block, with an event
// delivered at its first sample before it when `withEvent`.
// The next stretch's length: empty and one-sample calls, short ones, the rest of the block;
// under --strict now and then more than the block holds.
int32_t Chunk::stretchLength(Instance& in) {
    const int32_t left = in.block - in.position;
    int32_t count;
    const uint32_t roll = random_.below(100);
    if (roll < 25)
        count = static_cast<int32_t>(random_.below(2));
    else if (roll < 60)
        count = 2 + static_cast<int32_t>(random_.below(15));
    else if (roll < 85)
        count = 1 + static_cast<int32_t>(random_.below(static_cast<uint32_t>(left)));
    else
        count = left;
    count = std::min(count, left);
    if (strict_ && random_.chance(3) && !in.requestedBuffers) {
        count = left + 1 + static_cast<int32_t>(random_.below(static_cast<uint32_t>(in.block)));
        in.beyondPromises = true;
    }
    return count;
}

// An event for the stretch at `clock`; a state change it makes is what the inputs carry next.
mv::ModuleEvent Chunk::stretchEvent(Instance& in, int32_t clock) {
    const mv::ModuleEvent event = randomEvent(in, clock);
    const bool known = event.type == mv::PlugStateChange && event.param3 >= 0 &&
                       static_cast<size_t>(event.param3) < in.inputs.size() &&
                       event.param1 >= mv::Static && event.param1 <= mv::Streaming;
    if (known) {
        InputModel& model = in.inputs[static_cast<size_t>(event.param3)];
        in.still.inputState(static_cast<int32_t>(event.param3), event.param1);
        model.state = event.param1 == mv::Streaming ? mv::Streaming : mv::Static;
        if (event.param1 != mv::Streaming)
            model.held = heldValue(in);  // the step, or the value now held
    }
    return event;
}

void Chunk::stretch(Instance& in, bool withEvent) {
    if (!in.started || in.position >= in.block) {
        if (in.started) in.blockStart += in.block;
        in.started = true;
        in.position = 0;
        in.host.beginBlock(in.blockStart);
    }
    const int32_t count = stretchLength(in);
    const bool endFlush = in.calls++ % 2 == 0;
    const int32_t clock = in.blockStart + in.position;

    if (in.host.nextPostedClock() <= clock) noteChange(in);
    in.host.deliverPostedUpTo(clock);
    lookAtLog(in);
    std::vector<float> inputCopy;
    std::vector<float*> outputsAt;
    const mv::ModuleEvent event = withEvent ? stretchEvent(in, clock) : mv::ModuleEvent{};
    layOut(in, count, endFlush, inputCopy, outputsAt);
    if (withEvent) {
        act("instance %d: event type %d (%d, %d, plug %d) at clock %d", in.id, event.type,
            event.param1, event.param2, static_cast<int32_t>(event.param3), clock);
        noteChange(in);
        const Untouched before(in.host);
        withoutAllocation("event entry", format("for an event of type %d", event.type),
                          [&] { in.host.deliver(event); });
        const std::string changed = actsOnEvent(event.type) ? "" : before.changed(in.host);
        if (!changed.empty())
            fault(format("an event of the unknown type %d ", event.type) + changed);
        lookAtLog(in);
    }

    const std::string call =
        format("in a call for %d samples at offset %d (block of %d, %s)", count, in.position,
               in.block, endFlush ? "stretches end-flush" : "stretches start-flush");
    act("instance %d: process %d samples at offset %d, clock %d, %s", in.id, count, in.position,
        clock, endFlush ? "end-flush" : "start-flush");
    const uint64_t requestsBefore = totalRequests(in.host);
    withoutAllocation("process entry", call, [&] { in.host.process(in.position, count); });
    if (totalRequests(in.host) != requestsBefore)
        fault("the process entry asked the host something " + call);

    // What the call wrote and left: looked at in the order the stretches were laid out.
    lookAtInputs(in, count, endFlush, inputCopy, call);
    lookAtOutputs(in, count, endFlush, outputsAt, clock, call);
    lookAtLog(in);
    in.position = std::min(in.position + count, in.block);
}

// Every input the module was handed still holds what the host wrote, unless an output shares
// its buffer.
void Chunk::lookAtInputs(Instance& in, int32_t count, bool endFlush,
                         const std::vector<float>& inputCopy, const std::string& call) {
    const int32_t laid = std::max(count, 1);
    size_t copied = 0;
    for (const HostPlug& plug : in.host.plugs()) {
        if (!plug.isSignal() || !plug.isInput()) continue;
        GuardedRegion* buffer = in.buffers[static_cast<size_t>(plug.index)].get();
        if (!buffer && in.position + laid > in.block) continue;
        const float* at = buffer ? (endFlush ? buffer->end() - laid : buffer->begin())
                                 : in.host.buffer(plug.index) + in.position;
        bool inPlace = false;
        for (const HostPlug& out : in.host.plugs()) {
            if (!out.isSignal() || !out.isOutput() || !out.variable || !buffer) continue;
            float* base = nullptr;
            std::memcpy(&base, out.variable, sizeof base);
            inPlace = inPlace || base == at - in.position;
        }
        for (int32_t i = 0; i < count && !inPlace; ++i)
            if (std::memcmp(&at[i], &inputCopy[copied + static_cast<size_t>(i)], sizeof(float)) !=
                0)
                fault(format("changed sample %d of the input %s ", in.position + i,
                             plug.name.c_str()) +
                      call);
        copied += static_cast<size_t>(laid);
    }
}

// Every output sample of the stretch written, with a value a host can use, and nothing beside it.
void Chunk::lookAtOutputs(Instance& in, int32_t count, bool endFlush,
                          const std::vector<float*>& outputsAt, int32_t clock,
                          const std::string& call) {
    const int32_t laid = std::max(count, 1);
    size_t o = 0;
    for (const HostPlug& plug : in.host.plugs()) {
        if (!plug.isSignal() || !plug.isOutput()) continue;
        const float* at = outputsAt[o++];
        if (!at || count > in.block) {
            in.still.forget(plug.index);  // its samples are not the module's alone
            continue;
        }
        for (int32_t i = 0; i < count; ++i)
            if (isUnwritten(at[i]))
                fault(
                    format("left sample %d of %s unwritten ", in.position + i, plug.name.c_str()) +
                    call);
        lookAtValues(in, plug, at, count, call);
        StaticBreach breach;
        if (!in.beyondPromises && !in.still.output(plug.index, at, count, clock, &breach))
            fault(describeBreach(breach, plug.name) + " " + call);
        const float* open = endFlush ? at - kOpenSideSamples : at + laid;
        for (int32_t i = 0; i < kOpenSideSamples; ++i)
            if (!isUnwritten(open[i]))
                fault(format("wrote %s outside its stretch ", plug.name.c_str()) + call);
    }
}

// From ordinary inputs since open, no output NaN; under --strict no denormal either.
void Chunk::lookAtValues(Instance& in, const HostPlug& plug, const float* at, int32_t count,
                         const std::string& call) {
    if (!in.fedOrdinary || in.beyondPromises) return;
    int32_t where = 0;
    const ValueHazard hazard = worstSample(at, count, &where);
    if (hazard == ValueHazard::NaN || (hazard == ValueHazard::Denormal && strict_))
        fault(format("answered %s (%s) on %s sample %d from ordinary inputs since open ",
                     hazardName(hazard), showSample(at[where]).c_str(), plug.name.c_str(),
                     in.position + where) +
              call);
}

void Chunk::setListValue(Instance& in) {
    for (const HostPlug& plug : in.host.plugs()) {
        if (!plug.isList() || !plug.variable || !plug.description || random_.chance(50)) continue;
        int16_t value = defaultListValue(*plug.description);
        if (strict_ && random_.chance(20)) {
            value = static_cast<int16_t>(random_.next());
            in.beyondPromises = true;
        } else if (const std::optional<int16_t> picked =
                       randomListValue(random_, *plug.description)) {
            value = *picked;
        }
        act("instance %d: list value %d on %s", in.id, value, plug.name.c_str());
        in.host.setListValue(plug.index, value);
        noteChange(in);
    }
}

void Chunk::opcode(Instance& in) {
    mv::ModuleRecord* record = in.host.record();
    noteChange(in);
    const uint32_t roll = random_.below(100);
    if (roll < 25) {
        const int32_t index = static_cast<int32_t>(random_.below(
                                  static_cast<uint32_t>(in.host.descriptions().size() + 4))) -
                              2;
        mv::PlugInfo info;
        fillSentinel(&info, sizeof info);
        act("instance %d: opcode 6 (describe %d)", in.id, index);
        const intptr_t answer = dispatch(record, mv::OpGetPlugProperties, index, 0, &info);
        if (answer != 0 && answer != 1)
            fault(format("opcode 6 for description %d answered %s, not 0 or 1", index,
                         showWord(answer).c_str()));
        if (answer == 0 && !isSentinel(&info, sizeof info))
            fault(format("opcode 6 answered 0 for description %d but wrote into the host's record",
                         index));
    } else if (roll < 45) {
        float rate = kSampleRates[random_.below(sizeof kSampleRates / sizeof *kSampleRates)];
        if (strict_ && random_.chance(30)) {
            const float odd[] = {0.0f, -1.0f, std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN()};
            rate = odd[random_.below(sizeof odd / sizeof *odd)];
            in.beyondPromises = true;
        }
        act("instance %d: opcode 2 (sample rate %g)", in.id, static_cast<double>(rate));
        dispatch(record, mv::OpSetSampleRate, 0, 0, nullptr, rate);
    } else if (roll < 55) {
        const int32_t index = static_cast<int32_t>(random_.below(11)) - 5;
        act("instance %d: opcode 8 (%d)", in.id, index);
        dispatch(record, mv::OpNotify, index);
    } else if (roll < 65) {
        const int32_t index = static_cast<int32_t>(random_.below(8)),
                      value = static_cast<int32_t>(random_.below(8));
        act("instance %d: opcode 12 (%d, %d)", in.id, index, value);
        dispatch(record, mv::OpCommand, index, value);
    } else if (roll < 80) {
        act("instance %d: opcode 13", in.id);
        readProcessBinding(record, format("instance %d", in.id));
    } else if (roll < 95 || !strict_) {
        const int32_t op = pick(kUnknownOpcodes);
        const int32_t index = static_cast<int32_t>(random_.below(8)),
                      value = static_cast<int32_t>(random_.below(8));
        act("instance %d: opcode %d (%d, %d)", in.id, op, index, value);
        const Untouched before(in.host);
        const intptr_t answer = dispatch(record, op, index, value);
        if (answer != 0)
            fault(format("opcode %d, which has no operation, answered %s", op,
                         showWord(answer).c_str()));
        const std::string changed = before.changed(in.host);
        if (!changed.empty()) fault(format("opcode %d, which has no operation, ", op) + changed);
    } else {
        const int32_t block =
            static_cast<int32_t>(random_.below(static_cast<uint32_t>(kLargestBlock))) - 16;
        act("instance %d: opcode 3 (block size %d) between calls", in.id, block);
        in.beyondPromises = true;
        dispatch(record, mv::OpSetBlockSize, 0, block);
    }
    lookAtLog(in);
}

void Chunk::run() {
    for (int step = 0; step < kActionsPerChunk; ++step) {
        current_ = nullptr;
        unexcused_ = false;
        try {
            oneAction();
        } catch (const Error& finding) {
            if (!current_ || !current_->beyondPromises || unexcused_) throw;
            journal_.noteWarning(finding.what());
            act("instance %d: warning: %s", current_->id, finding.what());
        }
    }
    current_ = nullptr;
    while (!instances_.empty()) close(instances_.size() - 1);
}

void Chunk::oneAction() {
    if (instances_.empty() || (instances_.size() < kMaxInstances && random_.chance(6))) {
        make();
        return;
    }
    const size_t which = random_.below(static_cast<uint32_t>(instances_.size()));
    Instance& in = *instances_[which];
    current_ = &in;
    const uint32_t roll = random_.below(100);
    if (!in.opened) {
        if (roll < 75)
            open(in);
        else if (roll < 85)
            close(which);
        else if (roll < 95 || !strict_)
            opcode(in);
        else {
            const mv::ModuleEvent event = randomEvent(in, 0);
            act("instance %d: event type %d before open", in.id, event.type);
            in.beyondPromises = true;
            in.host.deliver(event);
        }
        return;
    }
    if (roll < 55)
        stretch(in, false);
    else if (roll < 75)
        stretch(in, true);
    else if (roll < 82)
        setListValue(in);
    else if (roll < 93)
        opcode(in);
    else if (roll < 98 || !strict_)
        close(which);
    else
        open(in);
}

// What a library makes once, on first use, is made here, before the chunk's heap is counted.
void warmUp(const EntryPoints& entries, int32_t plugCount) {
    HostSettings settings;
    settings.plugCount = plugCount;
    HostedModule host(entries, settings);
    host.open();
    host.beginBlock(0);
    host.process(0, 1);
}

}  // namespace

bool runChunk(const EntryPoints& entries, uint64_t seed, bool strict, ChunkJournal& journal,
              std::FILE* trace, int32_t plugCount) {
    journal.begin();
    journal.noteAction("warm-up: an instance made, opened, processed for 1 sample and closed");
    try {
        warmUp(entries, plugCount);
    } catch (const Error& failure) {
        journal.noteFinding(failure.what());
        return false;
    }
    AllocationWatch watch;
    bool beyond = false;
    {
        Chunk chunk(entries, seed, strict, journal, trace, plugCount);
        try {
            chunk.run();
        } catch (const Error& finding) {
            journal.noteFinding(finding.what());
            chunk.abandon();
            return false;
        }
        beyond = chunk.wentBeyond();
    }
    // Every instance is closed and the chunk's own memory given back: what is held, a module kept.
    const AllocationCount count = watch.count();
    if (allocationHooksAvailable() && count.allocations > count.releases) {
        const std::string what =
            format("%llu heap blocks still held after the chunk closed every instance it made",
                   static_cast<unsigned long long>(count.allocations - count.releases));
        if (!beyond) {
            journal.noteFinding(what.c_str());
            return false;
        }
        journal.noteWarning(what.c_str());
    }
    return true;
}

}  // namespace mvmhost
