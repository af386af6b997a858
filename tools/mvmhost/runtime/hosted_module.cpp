#include "tools/mvmhost/runtime/hosted_module.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "host/exports.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/sample_bits.h"

namespace mvmhost {
namespace {

// A quiet NaN with a payload no arithmetic produces, so a stray write shows in its bits.
constexpr uint32_t kGuardBits = 0x7FC0DEADu;

float guardSample() { return fromBits(kGuardBits); }
bool isGuard(float value) { return hasBits(value, kGuardBits); }

// A module library describes a handful of plugs; a description loop that never ends is a fault.
constexpr int32_t kMaxDescriptions = 4096;

// Where a request number is counted: its own slot, or the last one shared by all others.
size_t slotOf(int32_t request) {
    const bool own = request >= 0 && request < HostedModule::kRequestSlots;
    return static_cast<size_t>(own ? request : HostedModule::kRequestSlots);
}

}  // namespace

HostedModule::HostedModule(const EntryPoints& entries, const HostSettings& settings)
    : entries_(entries),
      settings_(settings),
      guard_(static_cast<size_t>(std::max(0, settings.guardSamples))) {
    if (settings_.blockSize <= 0) throw Error("the block size must be at least 1 sample");
    log_.reserve(kLogCapacity);
    record_ = entries_.makeModule(mv::kModuleIndex, mv::KindModule, callback,
                                  reinterpret_cast<intptr_t>(this));
    if (!record_) throw Error("makeModule(0, 1) answered null: the library made no instance");
    if (record_->magic != mv::kModuleMagic || !record_->dispatcherEntry) {
        record_ = nullptr;  // not a record this host can close; leaving it is all that is safe
        throw Error("makeModule answered something that is not a module record");
    }
    try {
        describe();
        makePlugs();
        dispatch(mv::OpSetSampleRate, 0, 0, nullptr, settings_.sampleRate);
        dispatch(mv::OpSetBlockSize, 0, settings_.blockSize);
        process_ = told_ = record_->processEntry;
    } catch (...) {
        dispatch(mv::OpClose);
        record_ = nullptr;
        throw;
    }
}

HostedModule::~HostedModule() {
    if (record_) dispatch(mv::OpClose);
}

intptr_t HostedModule::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) {
    entered_ = Entry::Dispatcher;
    const intptr_t answer = record_->dispatcherEntry(record_, opcode, index, value, ptr, opt);
    entered_ = Entry::None;
    return answer;
}

void HostedModule::describe() {
    for (int32_t d = 0;; ++d) {
        if (d == kMaxDescriptions)
            throw Error("the module describes more than " + std::to_string(kMaxDescriptions) +
                        " plugs");
        mv::PlugInfo info{};
        const intptr_t answer = dispatch(mv::OpGetPlugProperties, d, 0, &info);
        if (answer == 0) break;
        if (answer != 1)
            throw Error("opcode 6 answered " + std::to_string(answer) + " for description " +
                        std::to_string(d) + "; a module answers 0 or 1");
        if (!info.name) throw Error("description " + std::to_string(d) + " has no name");
        PlugDescription plug;
        plug.descriptionIndex = d;
        plug.variable = info.variable;
        plug.direction = info.direction;
        plug.datatype = info.datatype;
        plug.flags = info.flags;
        plug.name = info.name;
        if (info.defaultValue) plug.defaultValue = info.defaultValue;
        if (info.listText) plug.listText = info.listText;
        descriptions_.push_back(std::move(plug));
    }
}

// The same numbering the framework builds at open, so that host and module agree on indices.
void HostedModule::makePlugs() {
    int32_t counted = 0;
    for (const PlugDescription& d : descriptions_) counted += mv::countsAsPlug(d.flags) ? 1 : 0;
    plugCount_ = settings_.plugCount < 0 ? counted : settings_.plugCount;
    plugs_.reserve(static_cast<size_t>(plugCount_));
    for (PlugDescription& d : descriptions_) {
        if (!mv::countsAsPlug(d.flags)) continue;
        const int32_t p = static_cast<int32_t>(plugs_.size());
        if (p >= plugCount_) break;
        d.plugIndex = p;
        plugs_.push_back({p, d.name, d.direction, d.datatype, d.variable, &d});
    }
    const PlugDescription* last = descriptions_.empty() ? nullptr : &descriptions_.back();
    const bool repeat = last && mv::countsAsPlug(last->flags) && (last->flags & mv::RepeatLast);
    for (int32_t p = static_cast<int32_t>(plugs_.size()); p < plugCount_; ++p) {
        if (repeat)
            plugs_.push_back({p, last->name + "_" + std::to_string(p), last->direction,
                              last->datatype, nullptr, last});
        else
            plugs_.push_back({p, "plug" + std::to_string(p), mv::PlugInput, -1, nullptr, nullptr});
    }
    const size_t block = static_cast<size_t>(settings_.blockSize);
    for (const HostPlug& plug : plugs_) {
        const size_t trailing = settings_.guardPages && plug.isInput() ? 0 : guard_;
        const size_t size = guard_ + block + trailing;
        float* base;
        if (settings_.guardPages) {
            regions_.emplace_back(size);
            base = regions_.back().end() - size;
        } else {
            buffers_.emplace_back(size);
            base = buffers_.back().data();
        }
        std::fill_n(base, size, guardSample());
        bases_.push_back(base);
        trailing_.push_back(trailing);
    }
    for (int32_t p = 0; p < plugCount_; ++p) std::fill_n(buffer(p), settings_.blockSize, 0.0f);
    announced_.assign(static_cast<size_t>(plugCount_), -1);
}

intptr_t HostedModule::open() {
    const intptr_t answer = dispatch(mv::OpOpen);
    process_ = record_->processEntry;
    return answer;
}

const HostPlug& HostedModule::plugNamed(std::string_view name) const {
    for (const HostPlug& plug : plugs_)
        if (plug.name == name) return plug;
    std::string names;
    for (const HostPlug& plug : plugs_) names += (names.empty() ? "" : ", ") + plug.name;
    throw Error("the module has no plug named '" + std::string(name) +
                "' (its plugs: " + (names.empty() ? "none" : names) + ")");
}

bool HostedModule::guardsIntact(int32_t plug) const {
    const float* base = bases_[static_cast<size_t>(plug)];
    const float* tail = buffer(plug) + settings_.blockSize;
    return std::all_of(base, base + guard_, isGuard) &&
           std::all_of(tail, tail + trailing_[static_cast<size_t>(plug)], isGuard);
}

bool HostedModule::inGuardPage(uintptr_t address, int32_t* plug,
                               std::ptrdiff_t* samplesOutside) const {
    for (size_t p = 0; p < regions_.size(); ++p) {
        std::ptrdiff_t unused;
        if (!regions_[p].inGuard(address, &unused)) continue;
        *plug = static_cast<int32_t>(p);
        const auto first = reinterpret_cast<intptr_t>(buffer(*plug));
        *samplesOutside =
            (static_cast<intptr_t>(address) - first) / static_cast<intptr_t>(sizeof(float));
        return true;
    }
    return false;
}

void HostedModule::setListValue(int32_t plug, int16_t value) {
    const HostPlug& p = plugs_[static_cast<size_t>(plug)];
    if (p.isList() && p.variable) std::memcpy(p.variable, &value, sizeof value);
}

void HostedModule::beginBlock(int32_t clock) {
    blockStart_ = clock_ = clock;
    for (const HostPlug& p : plugs_) {
        if (!p.isSignal() || !p.variable) continue;
        float* samples = buffer(p.index);
        std::memcpy(p.variable, &samples, sizeof samples);
    }
}

void HostedModule::process(int32_t start, int32_t count) {
    clock_ = blockStart_ + start;
    if (!process_) return;
    entered_ = Entry::Process;
    process_(record_->instance, start, count);
    entered_ = Entry::None;
}

void HostedModule::changeStreamState(int32_t plug, mv::StreamState state, int32_t clock) {
    deliver({clock, mv::PlugStateChange, state, 0, plug, 0});
}

void HostedModule::deliver(mv::ModuleEvent event) {
    clock_ = event.clock;
    if (!record_->eventEntry) return;
    entered_ = Entry::Event;
    record_->eventEntry(record_->instance, &event);
    entered_ = Entry::None;
}

int32_t HostedModule::nextPostedClock() const {
    int32_t next = INT32_MAX;
    for (size_t i = 0; i < postedCount_; ++i) next = std::min(next, posted_[i].clock);
    return next;
}

void HostedModule::deliverPostedUpTo(int32_t clock) {
    // Taken out before any is delivered: what the module posts meanwhile waits for the next turn.
    std::array<mv::ModuleEvent, kPostedCapacity> due;
    size_t dueCount = 0, kept = 0;
    for (size_t i = 0; i < postedCount_; ++i) {
        if (posted_[i].clock <= clock)
            due[dueCount++] = posted_[i];
        else
            posted_[kept++] = posted_[i];
    }
    postedCount_ = kept;
    for (size_t i = 1; i < dueCount;
         ++i)  // by clock, posting order among equals; allocates nothing
        for (size_t j = i; j > 0 && due[j].clock < due[j - 1].clock; --j)
            std::swap(due[j], due[j - 1]);
    for (size_t i = 0; i < dueCount; ++i) {
        clock_ = clock;  // late events come now, with the clock they asked for
        if (!record_->eventEntry) continue;
        entered_ = Entry::Event;
        record_->eventEntry(record_->instance, &due[i]);
        entered_ = Entry::None;
    }
}

uint64_t HostedModule::requestCount(int32_t request) const { return counts_[slotOf(request)]; }

intptr_t MV_CDECL HostedModule::callback(void* record, int32_t request, int32_t index,
                                         int32_t value, void* ptr, float) noexcept {
    if (!record) return 0;
    uint32_t magic;
    std::memcpy(&magic, record, sizeof magic);
    if (magic != mv::kModuleMagic) return 0;  // a panel's record: this host offers no panels
    auto* host =
        reinterpret_cast<HostedModule*>(static_cast<mv::ModuleRecord*>(record)->hostHandle);
    if (!host || host->record_ != record) return 0;
    return host->answer(request, index, value, ptr);
}

intptr_t HostedModule::answer(int32_t request, int32_t index, int32_t value, void* ptr) noexcept {
    ++counts_[slotOf(request)];
    switch (request) {
    case mv::hostGetSampleClock:
        return clock_;
    case mv::hostGetPlugValuePointer:
        if (isPlug(index)) return reinterpret_cast<intptr_t>(buffer(index));
        break;
    case mv::hostGetBlockStartClock:
        if (isPlug(index)) return blockStart_;
        break;
    case mv::hostGetPlugCount:
        return plugCount_;
    case mv::hostPostEvent:
        if (ptr) {
            mv::ModuleEvent event;
            std::memcpy(&event, ptr, sizeof event);  // it lives only during this call
            if (event.type == mv::RoutineCall && postedCount_ < kPostedCapacity) {
                posted_[postedCount_++] = event;
                return 1;
            }
            note(request, event.type, event.clock, ptr);
            return 0;
        }
        break;
    case mv::hostProcessRoutineChanged:
        process_ = told_ = record_->processEntry;
        return 0;
    case mv::hostSetOutputState:
        if (isPlug(index)) announced_[static_cast<size_t>(index)] = value;
        note(request, index, value, ptr);
        return 0;
    default:
        break;
    }
    note(request, index, value, ptr);
    return 0;
}

void HostedModule::note(int32_t request, int32_t index, int32_t value, void* ptr) noexcept {
    if (log_.size() == log_.capacity()) {
        ++droppedLog_;
        return;
    }
    log_.push_back({clock_, request, index, value, reinterpret_cast<intptr_t>(ptr)});
}

std::string streamStateName(int32_t state) {
    switch (state) {
    case mv::Static:
        return "Static";
    case mv::SingleChange:
        return "SingleChange";
    case mv::Streaming:
        return "Streaming";
    default:
        return "state " + std::to_string(state);
    }
}

std::string plugMismatch(const HostedModule& a, const HostedModule& b, const std::string& nameA,
                         const std::string& nameB) {
    const auto& pa = a.plugs();
    const auto& pb = b.plugs();
    if (pa.size() != pb.size())
        return nameA + " has " + std::to_string(pa.size()) + " plugs, " + nameB + " " +
               std::to_string(pb.size());
    auto direction = [](const HostPlug& p) {
        return std::string(p.isInput() ? "an input" : "an output");
    };
    for (size_t i = 0; i < pa.size(); ++i) {
        const std::string at = "plug " + std::to_string(i) + " is ";
        if (pa[i].name != pb[i].name)
            return at + "'" + pa[i].name + "' in " + nameA + ", '" + pb[i].name + "' in " + nameB;
        if (pa[i].direction != pb[i].direction)
            return at + direction(pa[i]) + " in " + nameA + ", " + direction(pb[i]) + " in " +
                   nameB + " (" + pa[i].name + ")";
        if (pa[i].datatype != pb[i].datatype)
            return at + "of datatype " + std::to_string(pa[i].datatype) + " in " + nameA + ", " +
                   std::to_string(pb[i].datatype) + " in " + nameB + " (" + pa[i].name + ")";
    }
    return {};
}

}  // namespace mvmhost
