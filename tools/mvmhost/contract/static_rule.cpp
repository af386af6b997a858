#include "tools/mvmhost/contract/static_rule.h"

#include <algorithm>

#include "host/stream_state.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/stimulus.h"

namespace mvmhost {
namespace {
constexpr int32_t kNoPlug = -1;  // a pending entry that only concerns the module
}  // namespace

StaticRule::StaticRule(size_t plugs) : plugs_(plugs) { pending_.reserve(16); }

void StaticRule::open(int32_t clock) {
    for (Plug& plug : plugs_) plug = Plug{};
    pending_.clear();
    lastConcern_ = clock;
}

void StaticRule::concern(int32_t clock) { lastConcern_ = std::max(lastConcern_, clock); }

void StaticRule::announce(int32_t plug, int32_t state, int32_t clock, int32_t hostClock) {
    const bool known = plug >= 0 && static_cast<size_t>(plug) < plugs_.size();
    pending_.push_back({known ? plug : kNoPlug, state, std::max(clock, hostClock)});
}

void StaticRule::inputState(int32_t plug, int32_t state) {
    if (plug >= 0 && static_cast<size_t>(plug) < plugs_.size())
        plugs_[static_cast<size_t>(plug)].streamed = state == mv::Streaming;
}

void StaticRule::forget(int32_t plug) {
    if (plug >= 0 && static_cast<size_t>(plug) < plugs_.size())
        plugs_[static_cast<size_t>(plug)].known = false;
}

void StaticRule::settle(int32_t clock) {
    // Folded a little early for another plug's samples of the same stretch at worst: that
    // only widens its window.
    size_t kept = 0;
    for (const Pending& p : pending_) {
        if (p.clock > clock) {
            pending_[kept++] = p;
            continue;
        }
        lastConcern_ = std::max(lastConcern_, p.clock);
        if (p.plug == kNoPlug) continue;
        Plug& plug = plugs_[static_cast<size_t>(p.plug)];
        plug.state = p.state;
        plug.since = p.clock;
    }
    pending_.resize(kept);
}

void StaticRule::input(int32_t plug, const float* samples, int32_t count, int32_t clock) {
    if (plug < 0 || static_cast<size_t>(plug) >= plugs_.size()) return;
    Plug& in = plugs_[static_cast<size_t>(plug)];
    for (int32_t i = 0; i < count; ++i) {
        const bool stepped = !in.known || !sameSample(in.last, samples[i]);
        if (stepped && !in.streamed) pending_.push_back({kNoPlug, 0, clock + i});
        in.known = true;
        in.last = samples[i];
    }
}

bool StaticRule::output(int32_t plug, const float* samples, int32_t count, int32_t clock,
                        StaticBreach* breach) {
    if (plug < 0 || static_cast<size_t>(plug) >= plugs_.size()) return true;
    Plug& out = plugs_[static_cast<size_t>(plug)];
    for (int32_t i = 0; i < count; ++i) {
        const int32_t at = clock + i;
        if (!pending_.empty()) settle(at);
        const bool judged = out.state <= mv::Static && at - lastConcern_ >= kSettlingSamples;
        if (judged && out.known) ++judged_;
        if (judged && out.known && !sameSample(out.last, samples[i])) {
            *breach = {plug, at, out.last, samples[i], out.since, at - lastConcern_};
            return false;
        }
        out.known = true;
        out.last = samples[i];
    }
    return true;
}

std::string describeBreach(const StaticBreach& b, const std::string& outputName) {
    const std::string said = b.announcedAt < 0
                                 ? "never announced (so Static)"
                                 : "announced Static from clock " + std::to_string(b.announcedAt);
    return outputName + ", " + said + ", changed at clock " + std::to_string(b.clock) + " from " +
           showSample(b.before) + " to " + showSample(b.after) + ", " +
           std::to_string(b.sinceConcern) +
           " samples after the last stream-state change, event, opcode, list value, announcement "
           "or step of an input not Streaming";
}

}  // namespace mvmhost
