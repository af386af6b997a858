// Checks of what a module's stream-state announcements say: that they name outputs and states
// that exist, that an output said to be Static stays still, that none is dated before the
// host's clock, and that they follow from the stimuli alone.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/module_event.h"
#include "tools/mvmhost/base/sample_bits.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/check/check_list.h"
#include "tools/mvmhost/contract/host_calls.h"
#include "tools/mvmhost/contract/host_rules.h"
#include "tools/mvmhost/contract/rig.h"
#include "tools/mvmhost/contract/static_rule.h"

namespace mvmhost {
namespace {

constexpr uint64_t kStimulusSalt = 0x57A7E5ull;
constexpr uint64_t kCutSalt = 0xC075ull;
// List values a run moves between, besides the default.
constexpr int kListChoices = 6;

bool knownRequest(int32_t request) {
    switch (request) {
    case mv::hostSetOutputState:
    case mv::hostPlugQuery:
    case mv::hostGetSampleClock:
    case mv::hostPlugNotice:
    case mv::hostGetPlugValuePointer:
    case mv::hostGetBlockStartClock:
    case mv::hostGetPlugCount:
    case mv::hostPostEvent:
    case mv::hostProcessRoutineChanged:
        return true;
    default:
        return false;
    }
}

struct Announcement {
    int32_t plug, state;
    int32_t clock;      // the clock it names
    int32_t hostClock;  // the host's when it came
    bool operator!=(const Announcement& o) const {
        return plug != o.plug || state != o.state || clock != o.clock;
    }
};

// The plugs a run drives and what it leaves: every output sample and every announcement.
struct StateRun {
    std::vector<int32_t> signals, lists, outputs;  // plug indices
    std::vector<std::string> signalNames, listNames, outputNames;
    std::vector<std::vector<float>> samples;  // by output, one per clock
    std::vector<Announcement> announced;
    std::vector<int32_t> unknownRequests;
    int32_t plugCount = 0;  // plugs the host made
    bool dropped = false;
};

float startLevel(const HostPlug& plug) {
    if (!plug.description || !plug.description->defaultValue) return 0.0f;
    return std::strtof(plug.description->defaultValue->c_str(), nullptr);
}

// The stimuli of one check: the same for every instance the check makes.
StateStimuli stimuliFor(const CheckContext& c) {
    HostedModule probe(c.entries, HostSettings{});
    Random random(c.seed ^ kStimulusSalt);
    std::vector<float> levels;
    std::vector<std::vector<int32_t>> choices;
    for (const HostPlug& plug : probe.plugs()) {
        if (!plug.isInput()) continue;
        if (plug.isSignal()) levels.push_back(startLevel(plug));
        if (plug.isList() && plug.description) {
            std::vector<int32_t> values = {defaultListValue(*plug.description)};
            for (int i = 0; i < kListChoices; ++i)
                if (const std::optional<int16_t> v = randomListValue(random, *plug.description))
                    values.push_back(*v);
            choices.push_back(values);
        }
    }
    const int32_t blocks = std::min(c.blocks(), 16);
    return makeStateStimuli(random, levels, choices, blocks * c.blockSize);
}

// Fresh instances through the stimuli, alive together and driven in turn, a call of each
// after the other; with a cut seed the stretches between changes are cut further at random.
std::vector<StateRun> drive(const CheckContext& c, const StateStimuli& s, uint64_t cutSeed,
                            int instances = 1) {
    std::vector<std::unique_ptr<Rig>> rigs;
    std::vector<StateRun> runs(static_cast<size_t>(instances));
    for (StateRun& run : runs) {
        rigs.push_back(std::make_unique<Rig>(c, c.seed));
        const Rig& rig = *rigs.back();
        for (const HostPlug& plug : rig.host.plugs()) {
            if (plug.isInput() && plug.isSignal()) {
                run.signals.push_back(plug.index);
                run.signalNames.push_back(plug.name);
            } else if (plug.isInput() && plug.isList() && plug.description) {
                run.lists.push_back(plug.index);
                run.listNames.push_back(plug.name);
            }
        }
        run.outputs = rig.outputs();
        run.plugCount = static_cast<int32_t>(rig.host.plugs().size());
        for (int32_t p : run.outputs) run.outputNames.push_back(rig.plugName(p));
        run.samples.resize(run.outputs.size());
    }
    const StateRun& plugs = runs[0];
    Random cuts(cutSeed);
    const int32_t block = c.blockSize;
    size_t next = 0;
    for (int32_t first = 0; first < s.length(); first += block) {
        for (auto& rig : rigs) {
            rig->beginBlock();
            for (size_t i = 0; i < plugs.signals.size(); ++i)
                std::copy_n(s.samples[i].begin() + first, block,
                            rig->host.buffer(plugs.signals[i]));
        }
        for (int32_t at = 0; at < block;) {
            for (; next < s.changes.size() && s.changes[next].clock == first + at; ++next) {
                const StateStimuli::Change& change = s.changes[next];
                const size_t i = static_cast<size_t>(change.input);
                const bool list = i >= plugs.signals.size();
                const int32_t plug =
                    list ? plugs.lists[i - plugs.signals.size()] : plugs.signals[i];
                for (auto& rig : rigs) {
                    if (list) rig->host.setListValue(plug, static_cast<int16_t>(change.listValue));
                    rig->changeStreamState(plug, static_cast<mv::StreamState>(change.state),
                                           first + at);
                }
            }
            const int32_t end =
                next < s.changes.size() ? std::min(block, s.changes[next].clock - first) : block;
            const std::vector<int32_t> lengths =
                cutSeed ? randomSplit(cuts, end - at) : std::vector<int32_t>{end - at};
            for (int32_t n : lengths) {
                for (auto& rig : rigs) rig->process(at, n);
                at += n;
            }
        }
        for (size_t r = 0; r < rigs.size(); ++r)
            for (size_t o = 0; o < plugs.outputs.size(); ++o) {
                const float* samples = rigs[r]->host.buffer(plugs.outputs[o]);
                runs[r].samples[o].insert(runs[r].samples[o].end(), samples, samples + block);
            }
    }
    for (size_t r = 0; r < rigs.size(); ++r) {
        for (const LoggedRequest& q : rigs[r]->host.log()) {
            if (q.request == mv::hostSetOutputState)
                runs[r].announced.push_back(
                    {q.index, q.value, static_cast<int32_t>(q.ptr), q.clock});
            else if (!knownRequest(q.request))
                runs[r].unknownRequests.push_back(q.request);
        }
        runs[r].dropped = rigs[r]->host.droppedLogEntries() > 0;
    }
    return runs;
}

bool hasInputs(const CheckContext& c) {
    HostedModule probe(c.entries, HostSettings{});
    return !inputPlugs(probe).empty();
}

std::string showAnnouncement(const StateRun& run, const Announcement& a) {
    const auto at = std::find(run.outputs.begin(), run.outputs.end(), a.plug);
    const std::string name = at != run.outputs.end()
                                 ? run.outputNames[static_cast<size_t>(at - run.outputs.begin())]
                                 : "plug " + std::to_string(a.plug);
    return name + " " + streamStateName(a.state) + " at clock " + std::to_string(a.clock);
}

}  // namespace

Outcome stateAnnouncements(CheckContext& c) {
    if (!hasInputs(c)) return skip("the module has no inputs");
    const StateStimuli stimuli = stimuliFor(c);
    const StateRun run = drive(c, stimuli, 0)[0];
    HostedModule probe(c.entries, HostSettings{});
    const std::vector<HostPlug>& plugs = probe.plugs();
    for (const Announcement& a : run.announced) {
        const std::string when =
            "at clock " + std::to_string(a.hostClock) +
            " (inputs: " + stimuli.describeInputs(a.hostClock, run.signalNames, run.listNames) +
            ")";
        if (a.plug < 0 || static_cast<size_t>(a.plug) >= plugs.size())
            return fail("announced a state for plug " + std::to_string(a.plug) +
                        ", which does not exist, " + when);
        if (!plugs[static_cast<size_t>(a.plug)].isOutput())
            return fail("announced a state for the input " +
                        plugs[static_cast<size_t>(a.plug)].name + " " + when);
        if (a.state < mv::Static || a.state > mv::Streaming)
            return fail("announced the unknown state " + std::to_string(a.state) + " for " +
                        plugs[static_cast<size_t>(a.plug)].name + " " + when);
    }
    if (!run.unknownRequests.empty())
        return warn("the module sent the unknown host request " +
                    std::to_string(run.unknownRequests[0]));
    if (run.dropped)
        return warn("the module made so many requests that not all of them were looked at");
    return pass(std::to_string(stimuli.changes.size()) +
                " stream-state changes, several inputs at once; " +
                std::to_string(run.announced.size()) +
                " announcements, each for an output and a valid state");
}

Outcome staticStability(CheckContext& c) {
    if (!hasInputs(c)) return skip("the module has no inputs");
    const StateStimuli stimuli = stimuliFor(c);
    const StateRun run = drive(c, stimuli, c.seed ^ kCutSalt)[0];
    if (run.outputs.empty()) return skip("the module has no Signal output to look at");
    // The run replayed sample by sample, as a host trusting the announcements would see it.
    StaticRule rule(static_cast<size_t>(run.plugCount));
    rule.open(0);
    size_t nextChange = 0, nextAnnouncement = 0;
    for (int32_t t = 0; t < stimuli.length(); ++t) {
        for (; nextChange < stimuli.changes.size() && stimuli.changes[nextChange].clock == t;
             ++nextChange) {
            const StateStimuli::Change& change = stimuli.changes[nextChange];
            rule.concern(t);
            if (static_cast<size_t>(change.input) < run.signals.size())
                rule.inputState(run.signals[static_cast<size_t>(change.input)], change.state);
        }
        for (; nextAnnouncement < run.announced.size() &&
               run.announced[nextAnnouncement].hostClock <= t;
             ++nextAnnouncement) {
            const Announcement& a = run.announced[nextAnnouncement];
            rule.announce(a.plug, a.state, a.clock, a.hostClock);
        }
        for (size_t i = 0; i < run.signals.size(); ++i)
            rule.input(run.signals[i], &stimuli.samples[i][static_cast<size_t>(t)], 1, t);
        for (size_t o = 0; o < run.outputs.size(); ++o) {
            StaticBreach breach;
            if (!rule.output(run.outputs[o], &run.samples[o][static_cast<size_t>(t)], 1, t,
                             &breach))
                return fail(describeBreach(breach, run.outputNames[o]) + " (inputs: " +
                            stimuli.describeInputs(t, run.signalNames, run.listNames) + ")");
        }
    }
    if (run.dropped)
        return warn(
            "the module made more requests than the host keeps; not all announcements were seen");
    return pass(std::to_string(stimuli.changes.size()) +
                " stream-state changes, several inputs at once; " + std::to_string(rule.judged()) +
                " samples of outputs then Static were still");
}

Outcome stateClocks(CheckContext& c) {
    if (!hasInputs(c)) return skip("the module has no inputs");
    const StateStimuli stimuli = stimuliFor(c);
    const StateRun run = drive(c, stimuli, 0)[0];
    for (const Announcement& a : run.announced)
        if (a.clock < a.hostClock)
            return fail("announced " + showAnnouncement(run, a) + ", before the host's clock " +
                        std::to_string(a.hostClock) + " (inputs: " +
                        stimuli.describeInputs(a.hostClock, run.signalNames, run.listNames) + ")");
    if (run.dropped)
        return warn(
            "the module made more requests than the host keeps; not all announcements were seen");
    return pass(std::to_string(run.announced.size()) +
                " announcements, none dated before the host's clock");
}

Outcome stateChangeDeterminism(CheckContext& c) {
    if (!hasInputs(c)) return skip("the module has no inputs");
    const StateStimuli stimuli = stimuliFor(c);
    // A fresh instance alone; then two together, made after it was closed; then one with other
    // stretches. A difference among the first three is state that outlives an instance or is
    // shared between instances, and the stretches cannot be blamed for it.
    const StateRun first = drive(c, stimuli, 0)[0];
    const std::vector<StateRun> pair = drive(c, stimuli, 0, 2);
    const StateRun split = drive(c, stimuli, c.seed ^ kCutSalt)[0];
    if (first.dropped || pair[0].dropped || pair[1].dropped || split.dropped)
        return warn("the module made more requests than the host keeps; not all compared");
    struct Other {
        const StateRun& run;
        const char* what;
    } others[] = {
        {pair[0], "a fresh instance made after another was closed, given the same stimuli,"},
        {pair[1], "an instance alive beside another given the same stimuli"},
        {split, "the same stimuli in other stretches"}};
    for (const Other& other : others) {
        for (size_t o = 0; o < first.outputs.size(); ++o)
            for (size_t t = 0; t < first.samples[o].size(); ++t)
                if (!sameSample(first.samples[o][t], other.run.samples[o][t]))
                    return fail(std::string("with stream-state changes, ") + other.what +
                                " gives " + first.outputNames[o] + " " +
                                showSample(other.run.samples[o][t]) + " at clock " +
                                std::to_string(t) + " against " + showSample(first.samples[o][t]));
        const size_t n = std::min(first.announced.size(), other.run.announced.size());
        for (size_t i = 0; i <= n; ++i) {
            if (i == n && first.announced.size() == other.run.announced.size()) break;
            if (i < n && !(first.announced[i] != other.run.announced[i])) continue;
            const std::string mine = i < first.announced.size()
                                         ? showAnnouncement(first, first.announced[i])
                                         : "nothing";
            const std::string theirs = i < other.run.announced.size()
                                           ? showAnnouncement(other.run, other.run.announced[i])
                                           : "nothing";
            return fail(std::string(other.what) + " announces differently: announcement " +
                        std::to_string(i) + " is " + theirs + " against " + mine);
        }
    }
    return pass(std::to_string(stimuli.changes.size()) +
                " stream-state changes: fresh instances and other stretches give "
                "the same output and the same " +
                std::to_string(first.announced.size()) + " announcements");
}

}  // namespace mvmhost
