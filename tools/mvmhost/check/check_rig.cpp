#include "tools/mvmhost/check/check_rig.h"

#include "tools/mvmhost/check/check_support.h"
#include "tools/mvmhost/sample_bits.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace mvmhost {

namespace {
// A quiet NaN: a signalling one would come back quieted from a 32-bit x86 function return.
constexpr uint32_t kUnwrittenBits = 0x7FD0F00Du;
}

float unwrittenSample() { return fromBits(kUnwrittenBits); }
bool isUnwritten(float value) { return hasBits(value, kUnwrittenBits); }

uint64_t totalRequests(const HostedModule& host) {
    uint64_t total = 0;
    for (int32_t r = 0; r < 32; ++r) total += host.requestCount(r);
    return total + host.requestCount(-1);
}

int16_t defaultListValue(const PlugDescription& description) {
    if (!description.defaultValue) return 0;
    const long value = std::strtol(description.defaultValue->c_str(), nullptr, 10);
    return value < INT16_MIN || value > INT16_MAX ? 0 : static_cast<int16_t>(value);
}

namespace {
HostSettings settingsFor(const CheckContext& context, int32_t plugCount) {
    HostSettings settings;
    settings.blockSize = context.blockSize;
    settings.plugCount = plugCount;
    return settings;
}
}  // namespace

Rig::Rig(const CheckContext& context, uint64_t inputSeed, int32_t plugCount)
    : host(context.entries, settingsFor(context, plugCount)), random_(inputSeed), block_(context.blockSize) {
    for (const HostPlug& plug : host.plugs()) {
        if (!plug.isSignal()) continue;
        (plug.isInput() ? inputs_ : outputs_).push_back(plug.index);
    }
    host.open();
    setListDefaults();
}

void Rig::setListDefaults() {
    for (const HostPlug& plug : host.plugs())
        if (plug.isList() && plug.description) host.setListValue(plug.index, defaultListValue(*plug.description));
}

void Rig::beginBlock() {
    if (started_) clock_ += block_;
    started_ = true;
    blockStart_ = clock_;
    for (int32_t p : inputs_) fillSignal(random_, host.buffer(p), block_);
    for (int32_t p : outputs_) std::fill_n(host.buffer(p), block_, unwrittenSample());
    host.beginBlock(blockStart_);
}

void Rig::process(int32_t start, int32_t count) {
    inputCopy_.clear();
    for (int32_t p : inputs_) inputCopy_.insert(inputCopy_.end(), host.buffer(p), host.buffer(p) + block_);
    host.process(start, count);
    const std::string call = " (a call for " + std::to_string(count) + " samples at offset " + std::to_string(start) + ")";
    for (const HostPlug& plug : host.plugs())
        if (!host.guardsIntact(plug.index))
            fail("wrote past the end or before the start of " + plug.name + "'s buffer" + call);
    size_t at = 0;
    for (int32_t p : inputs_) {
        for (int32_t i = 0; i < block_; ++i, ++at)
            if (std::memcmp(&inputCopy_[at], host.buffer(p) + i, sizeof(float)) != 0)
                fail("changed sample " + std::to_string(i) + " of the input " + plugName(p) + call);
    }
}

std::vector<float> Rig::outputSamples() const {
    std::vector<float> samples;
    for (int32_t p : outputs_) samples.insert(samples.end(), host.buffer(p), host.buffer(p) + block_);
    return samples;
}

std::string Rig::firstDifference(const std::vector<float>& mine, const std::vector<float>& other) const {
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
