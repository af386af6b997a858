#include "tools/mvmhost/contract/rig.h"

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/sample_bits.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/runtime/list_text.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace mvmhost {

namespace {
// A quiet NaN: a signalling one would come back quieted from a 32-bit x86 function return.
constexpr uint32_t kUnwrittenBits = 0x7FD0F00Du;
}  // namespace

float unwrittenSample() { return fromBits(kUnwrittenBits); }
bool isUnwritten(float value) { return hasBits(value, kUnwrittenBits); }

uint64_t totalRequests(const HostedModule& host) {
    uint64_t total = 0;
    for (int32_t r = 0; r < HostedModule::kRequestSlots; ++r) total += host.requestCount(r);
    return total + host.requestCount(-1);
}

std::vector<int32_t> inputPlugs(const HostedModule& host) {
    std::vector<int32_t> plugs;
    for (const HostPlug& plug : host.plugs())
        if (plug.isInput() && plug.datatype >= 0) plugs.push_back(plug.index);
    return plugs;
}

std::optional<int16_t> randomListValue(Random& random, const PlugDescription& description) {
    if (!description.listText) return std::nullopt;
    const ListText list(*description.listText);
    const int64_t items = std::min<int64_t>(list.count(), 1 << 15);
    if (items <= 0) return std::nullopt;
    const int32_t candidate = static_cast<int32_t>(random.below(static_cast<uint32_t>(items)));
    if (!list.labelOf(candidate)) return std::nullopt;
    return static_cast<int16_t>(candidate);
}

namespace {
HostSettings settingsFor(const CheckContext& context, int32_t plugCount, Placement placement,
                         int32_t announced) {
    HostSettings settings;
    settings.blockSize = announced > 0 ? announced : context.blockSize;
    settings.plugCount = plugCount;
    settings.guardPages = placement == Placement::Guarded;
    return settings;
}
}  // namespace

Rig::Rig(const CheckContext& context, uint64_t inputSeed, int32_t plugCount, Placement placement,
         int32_t announcedBlock)
    : host(context.entries, settingsFor(context, plugCount, placement, announcedBlock)),
      random_(inputSeed),
      block_(context.blockSize),
      placement_(placement) {
    for (const HostPlug& plug : host.plugs()) {
        if (!plug.isSignal()) continue;
        (plug.isInput() ? inputs_ : outputs_).push_back(plug.index);
        if (placement == Placement::Guarded && plug.isInput() && plug.variable)
            placed_.push_back({plug.index, std::make_unique<StretchPlacement>(block_)});
    }
    auto open = [&] { host.open(); };
    trapped(open, "while opening");
    setListDefaults();
}

template <class Call>
void Rig::trapped(Call& call, const std::string& what) {
    uintptr_t address = 0;
    if (runTrapped(call, &address)) return;
    std::string where;
    for (const PlacedInput& in : placed_)
        if (in.stretches->describeOutside(address, &where))
            fault("read outside its stretch: " + where + " " + plugName(in.plug) + "'s stretch " +
                  what);
    int32_t plug = 0;
    std::ptrdiff_t sample = 0;
    if (host.inGuardPage(address, &plug, &sample))
        fault("read sample " + std::to_string(sample) + " of " + plugName(plug) + "'s buffer of " +
              std::to_string(block_) + " samples, which ends flush against an unreadable page, " +
              what);
    fault("touched unreadable memory at " + showWord(static_cast<intptr_t>(address)) + " " + what);
}

void Rig::layOut(int32_t start, int32_t count) {
    for (size_t i = 0; i < placed_.size(); ++i) {
        const PlacedInput& in = placed_[i];
        const Flush flush = (calls_ + i) % 2 == 0 ? Flush::End : Flush::Start;
        float* base = in.stretches->place(host.buffer(in.plug), start, count, flush);
        std::memcpy(host.plugs()[static_cast<size_t>(in.plug)].variable, &base, sizeof base);
    }
    ++calls_;
}

void Rig::deliver(mv::ModuleEvent event) {
    const int32_t at = std::clamp(event.clock - blockStart_, 0, block_);
    layOut(at, block_ - at);
    auto call = [&] { host.deliver(event); };
    trapped(call, "in the handler of an event of type " + std::to_string(event.type) +
                      " at clock " + std::to_string(event.clock));
}

void Rig::setListDefaults() {
    for (const HostPlug& plug : host.plugs())
        if (plug.isList() && plug.description)
            host.setListValue(plug.index, defaultListValue(*plug.description));
}

void Rig::shareBuffer(int32_t output, int32_t input) {
    if (placement_ != Placement::Plain)
        fault("an output shares an input's buffer in plain placement only");
    if (!host.plugs()[static_cast<size_t>(output)].variable)
        fault(plugName(output) + " has no variable for the host to point at another buffer");
    shared_.push_back({output, input});
}

const float* Rig::outputBuffer(int32_t output) const {
    for (const Shared& s : shared_)
        if (s.output == output) return host.buffer(s.input);
    return host.buffer(output);
}

bool Rig::carriesOutput(int32_t input) const {
    return std::any_of(shared_.begin(), shared_.end(),
                       [&](const Shared& s) { return s.input == input; });
}

void Rig::beginBlock() {
    if (started_) clock_ += block_;
    started_ = true;
    blockStart_ = clock_;
    for (int32_t p : inputs_) fillSignal(random_, host.buffer(p), block_);
    for (int32_t p : outputs_) std::fill_n(host.buffer(p), block_, unwrittenSample());
    host.beginBlock(blockStart_);
    for (const Shared& s : shared_) {
        float* samples = host.buffer(s.input);
        std::memcpy(host.plugs()[static_cast<size_t>(s.output)].variable, &samples, sizeof samples);
    }
}

void Rig::process(int32_t start, int32_t count) {
    inputCopy_.clear();
    for (int32_t p : inputs_)
        inputCopy_.insert(inputCopy_.end(), host.buffer(p), host.buffer(p) + block_);
    const std::string call = " (a call for " + std::to_string(count) + " samples at offset " +
                             std::to_string(start) + ")";
    layOut(start, count);
    auto entry = [&] { host.process(start, count); };
    trapped(entry, call.substr(1));
    for (const HostPlug& plug : host.plugs())
        if (!host.guardsIntact(plug.index))
            fault("wrote past the end or before the start of " + plug.name + "'s buffer" + call);
    size_t at = 0;
    for (int32_t p : inputs_) {
        if (carriesOutput(p)) {
            at += static_cast<size_t>(block_);
            continue;
        }
        for (int32_t i = 0; i < block_; ++i, ++at)
            if (std::memcmp(&inputCopy_[at], host.buffer(p) + i, sizeof(float)) != 0)
                fault("changed sample " + std::to_string(i) + " of the input " + plugName(p) +
                      call);
    }
    for (const PlacedInput& in : placed_)
        for (int32_t i = 0; i < count; ++i)
            if (std::memcmp(in.stretches->stretch() + i, host.buffer(in.plug) + start + i,
                            sizeof(float)) != 0)
                fault("changed sample " + std::to_string(start + i) + " of the input " +
                      plugName(in.plug) + call);
}

std::vector<float> Rig::outputSamples() const {
    std::vector<float> samples;
    for (int32_t p : outputs_)
        samples.insert(samples.end(), outputBuffer(p), outputBuffer(p) + block_);
    return samples;
}

std::string Rig::firstDifference(const std::vector<float>& mine,
                                 const std::vector<float>& other) const {
    for (size_t i = 0; i < mine.size() && i < other.size(); ++i) {
        if (sameSample(mine[i], other[i])) continue;
        const int32_t plug = outputs_[i / static_cast<size_t>(block_)];
        const int32_t sample = static_cast<int32_t>(i % static_cast<size_t>(block_));
        return plugName(plug) + " sample " + std::to_string(sample) + " (clock " +
               std::to_string(blockStart_ + sample) + "): " + showSample(mine[i]) + " against " +
               showSample(other[i]);
    }
    return {};
}

}  // namespace mvmhost
