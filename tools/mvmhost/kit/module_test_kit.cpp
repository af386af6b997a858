#include "tools/mvmhost/kit/module_test_kit.h"

#include <algorithm>
#include <ostream>

#include "host/module_record.h"
#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/runtime/hosted_module.h"
#include "tools/mvmhost/runtime/list_text.h"
#include "tools/mvmhost/runtime/module_library.h"
#include "tools/mvmhost/runtime/render_loop.h"
#include "tools/mvmhost/signal_io/csv.h"
#include "tools/mvmhost/signal_io/sources.h"

namespace mv::kit {

using mvmhost::HostedModule;
using mvmhost::HostPlug;
using mvmhost::ScheduledChange;
using mvmhost::SignalSource;

namespace {

// mvmhost's errors become the kit's, with the same words.
template <class Work>
decltype(auto) translated(Work&& work) {
    try {
        return work();
    } catch (const mvmhost::Error& error) {
        throw Failure(error.what());
    }
}

}  // namespace

Signal::Signal(std::unique_ptr<SignalSource> source) : source_(std::move(source)) {}
Signal::Signal(Signal&&) noexcept = default;
Signal& Signal::operator=(Signal&&) noexcept = default;
Signal::~Signal() = default;

Signal Signal::constant(float level) { return Signal(mvmhost::constantSource(level)); }

Signal Signal::steps(std::vector<std::pair<int32_t, float>> levels) {
    for (size_t i = 0; i < levels.size(); ++i)
        if (levels[i].first < 0 || (i > 0 && levels[i].first <= levels[i - 1].first))
            throw Failure("Signal::steps: the clocks must rise from 0 or later");
    // 0 V until the first level.
    if (levels.empty() || levels.front().first > 0) levels.insert(levels.begin(), {0, 0.0f});
    return Signal(mvmhost::stepsSource(std::move(levels)));
}

Signal Signal::clock(int32_t period, float high, float low, int32_t delay) {
    if (period < 1 || delay < 0)
        throw Failure("Signal::clock: the period is at least 1 sample, the delay at least 0");
    return Signal(mvmhost::clockSource(period, std::max(1, period / 2), delay, high, low));
}

Signal Signal::samples(std::vector<float> samples) {
    return Signal(mvmhost::samplesSource(std::move(samples)));
}

Signal Signal::text(std::string source) {
    Signal signal(nullptr);
    signal.text_ = std::move(source);
    return signal;
}

std::ostream& operator<<(std::ostream& out, const Announcement& a) {
    return out << a.plug << " " << mvmhost::streamStateName(a.state) << " from clock " << a.from
               << " (told at " << a.at << ")";
}

// Everything a host keeps for one instance, and what came back from it.
struct TestHost::State : mvmhost::BlockSink {
    std::unique_ptr<mvmhost::ModuleLibrary> library;
    std::unique_ptr<HostedModule> host;
    std::vector<std::unique_ptr<SignalSource>> sources;
    mvmhost::RenderJob job;
    std::vector<char> fed;                               // by plug
    std::vector<std::pair<int32_t, int16_t>> openLists;  // written right after open
    bool ran = false;

    std::vector<std::vector<float>> signals;  // by plug
    std::vector<Announcement> announcements;
    std::vector<Request> requests;
    mvmhost::RenderCounts counts;

    const HostPlug& plug(const std::string& name) const {
        return translated([&]() -> const HostPlug& { return host->plugNamed(name); });
    }
    const HostPlug& input(const std::string& name, const char* what) const {
        const HostPlug& p = plug(name);
        if (!p.isInput()) throw Failure(name + " is an output; " + what + " an input");
        return p;
    }
    void planning(const char* what) const {
        if (ran) throw Failure(std::string(what) + ": the run is over; plan before run()");
    }

    // What the module told, taken after open and after every block.
    void drainLog() {
        if (host->droppedLogEntries() > 0)
            throw Failure("the module made more host requests in one block than the kit keeps");
        for (const mvmhost::LoggedRequest& r : host->log()) {
            if (r.request == mv::hostSetOutputState) {
                const bool known = r.index >= 0 && r.index < static_cast<int32_t>(signals.size());
                announcements.push_back({r.clock,
                                         known ? host->plugs()[static_cast<size_t>(r.index)].name
                                               : "plug " + std::to_string(r.index),
                                         r.value, static_cast<int32_t>(r.ptr)});
            } else {
                requests.push_back({r.clock, r.request, r.index, r.value});
            }
        }
        host->clearLog();
    }

    void take(const HostedModule& h, int32_t, int32_t count) override {
        for (const HostPlug& p : h.plugs())
            if (p.isSignal())
                signals[static_cast<size_t>(p.index)].insert(
                    signals[static_cast<size_t>(p.index)].end(), h.buffer(p.index),
                    h.buffer(p.index) + count);
        drainLog();
    }
};

TestHost::TestHost(const std::string& libraryFile, const Options& options)
    : state_(std::make_unique<State>()) {
    translated([&] {
        state_->library = std::make_unique<mvmhost::ModuleLibrary>(libraryFile);
        mvmhost::HostSettings settings;
        settings.plugCount = options.plugs;
        settings.blockSize = options.blockSize;
        settings.sampleRate = options.sampleRate;
        state_->host = std::make_unique<HostedModule>(state_->library->entries(), settings);
    });
    State& s = *state_;
    s.job.splitSeed = options.splitSeed;
    s.fed.assign(s.host->plugs().size(), 0);
    s.signals.resize(s.host->plugs().size());
    for (const HostPlug& p : s.host->plugs())
        if (p.isList() && p.isInput() && p.description && p.description->defaultValue)
            s.openLists.emplace_back(p.index, mvmhost::defaultListValue(*p.description));
}

TestHost::~TestHost() = default;

std::vector<std::string> TestHost::plugNames() const {
    std::vector<std::string> names;
    for (const HostPlug& p : state_->host->plugs()) names.push_back(p.name);
    return names;
}

void TestHost::feed(const std::string& plug, Signal signal) {
    State& s = *state_;
    s.planning("feed");
    const HostPlug& p = s.input(plug, "feed");
    if (!p.isSignal())
        throw Failure(plug + " is no Signal input; " +
                      (p.isList() ? "choose its item with set()" : "it takes no samples"));
    if (s.fed[static_cast<size_t>(p.index)]) throw Failure(plug + " is fed twice");
    if (!signal.source_)
        signal.source_ = translated(
            [&] { return mvmhost::makeSource(signal.text_, plug, s.host->sampleRate()); });
    s.fed[static_cast<size_t>(p.index)] = 1;
    s.job.feeds.push_back({p.index, signal.source_.get()});
    s.sources.push_back(std::move(signal.source_));
}

void TestHost::setValue(const std::string& plug, int16_t value, int32_t at) {
    State& s = *state_;
    s.planning("setValue");
    const HostPlug& p = s.input(plug, "a list value sets");
    if (!p.isList()) throw Failure(plug + " is not a list input; feed() it a signal");
    if (at < 0) throw Failure("setValue: a clock is never negative");
    if (at == 0) {
        for (auto& [index, start] : s.openLists)
            if (index == p.index) start = value;
        if (std::none_of(s.openLists.begin(), s.openLists.end(),
                         [&](const auto& l) { return l.first == p.index; }))
            s.openLists.emplace_back(p.index, value);
    } else {
        s.job.changes.push_back({at, p.index, ScheduledChange::ListValue, value});
    }
}

void TestHost::set(const std::string& plug, const std::string& label, int32_t at) {
    const HostPlug& p = state_->plug(plug);
    if (!p.isList() || !p.isInput()) throw Failure(plug + " is not a list input");
    setValue(plug, translated([&] { return mvmhost::listValueOfLabel(p, label); }), at);
}

void TestHost::streamState(const std::string& plug, mv::StreamState state, int32_t at) {
    State& s = *state_;
    s.planning("streamState");
    const HostPlug& p = s.input(plug, "a stream state is told for");
    if (at < 0) throw Failure("streamState: a clock is never negative");
    s.job.changes.push_back({at, p.index, ScheduledChange::StreamState, state});
}

void TestHost::event(const mv::ModuleEvent& event) {
    State& s = *state_;
    s.planning("event");
    if (event.clock < 0) throw Failure("event: a clock is never negative");
    s.job.changes.push_back({event.clock, 0, ScheduledChange::Event, 0, event});
}

void TestHost::dataEvent(int32_t clock, int32_t first, int32_t second) {
    event({clock, mv::DataEvent, first, second, 0, 0});
}

void TestHost::run(int32_t samples) {
    State& s = *state_;
    s.planning("run");
    if (samples < 1) throw Failure("run: a run is at least 1 sample long");
    s.job.samples = samples;
    const std::vector<HostPlug>& plugs = s.host->plugs();
    // The inputs' own states come before what the plan delivers at the same clock.
    std::vector<ScheduledChange> told;
    for (const mvmhost::Feed& f : s.job.feeds) {
        const std::string& name = plugs[static_cast<size_t>(f.plug)].name;
        if (f.source->length() >= 0 && f.source->length() < samples)
            throw Failure("the signal fed to " + name + " holds " +
                          std::to_string(f.source->length()) + " samples; the run needs " +
                          std::to_string(samples));
        // Told as a host tells it: streaming from the start, or held with a change per step.
        if (f.source->initialState() != mv::Static)
            told.push_back({0, f.plug, ScheduledChange::StreamState, f.source->initialState()});
        for (const int32_t clock : f.source->changeClocks())
            if (clock < samples)
                told.push_back({clock, f.plug, ScheduledChange::StreamState, mv::SingleChange});
    }
    for (const HostPlug& p : plugs) {
        if (!p.isSignal() || !p.isInput() || s.fed[static_cast<size_t>(p.index)]) continue;
        float level = 0.0f;
        if (p.description && p.description->defaultValue &&
            !mvmhost::parseSample(*p.description->defaultValue, level))
            level = 0.0f;
        s.sources.push_back(mvmhost::constantSource(level));
        s.job.feeds.push_back({p.index, s.sources.back().get()});
    }
    for (const ScheduledChange& c : s.job.changes)
        if (c.clock >= samples)
            throw Failure("a change is planned at sample " + std::to_string(c.clock) +
                          "; the run ends at sample " + std::to_string(samples - 1));
    s.job.changes.insert(s.job.changes.begin(), told.begin(), told.end());
    s.ran = true;
    translated([&] {
        s.host->open();
        // After open: a module sets its own start values there, and the host's choice wins.
        for (const auto& [plug, value] : s.openLists) s.host->setListValue(plug, value);
        s.drainLog();
        s.counts = mvmhost::runBlocks(*s.host, s.job, s);
    });
}

const std::vector<float>& TestHost::samples(const std::string& plug) const {
    const HostPlug& p = state_->plug(plug);
    if (!p.isSignal()) throw Failure(plug + " carries no samples");
    if (!state_->ran) throw Failure("samples: nothing has run yet");
    return state_->signals[static_cast<size_t>(p.index)];
}

const std::vector<Announcement>& TestHost::announcements() const { return state_->announcements; }

int32_t TestHost::lastState(const std::string& plug) const {
    return state_->host->announcedState(state_->plug(plug).index);
}

const std::vector<Request>& TestHost::requests() const { return state_->requests; }

uint64_t TestHost::requestCount(int32_t request) const {
    return state_->host->requestCount(request);
}

int64_t TestHost::processCalls() const { return state_->counts.processCalls; }

}  // namespace mv::kit
