// A test kit for module authors: it drives a module library file as a host does, so that a
// test states what a module should do in the host's own terms. A test loads the library,
// plans a run (what feeds each input, list choices, events and stream-state changes, each at
// a sample clock), runs it, and reads what came back: every signal's samples, the stream
// states the module announced, and any other host request it made.
//
//     mv::kit::TestHost host(MY_LIBRARY_DIR "/Tremolo1.mvm");
//     host.feed("in", mv::kit::Signal::clock(100));       // 5 V for 50 samples, 0 V for 50
//     host.set("level@", "-6 dB");                        // a list item by its label
//     host.dataEvent(500, 44, 0);                         // an event before sample 500
//     host.run(1000);
//     EXPECT_EQ(host.samples("out")[10], ...);
//     EXPECT_EQ(host.lastState("out"), mv::Streaming);
//
// Levels are signal units, as the module sees them: 1.0 stands for 10 V (see volts()).
// The host behind it is mvmhost's: it keeps the promises a real host keeps (it tells the
// module an input's stream state before it changes how the input moves), guards every
// buffer, and fails the run when the module writes outside one. Anything that cannot be
// done (no such plug, no such label, a library that does not load, a write outside a buffer)
// throws mv::kit::Failure, whose message names it; a test framework reports it as it is.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/module_event.h"
#include "host/stream_state.h"

namespace mvmhost {
class SignalSource;
}

namespace mv::kit {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A level given in volts, as signal units.
constexpr float volts(double v) { return static_cast<float>(v / 10.0); }

// What feeds one Signal input. The kit tells the module the input's stream state as a host
// does: a constant or steps are Static with a SingleChange at every step; all else Streaming
// from the start.
class Signal {
public:
    static Signal constant(float level);
    // Each level from its clock on; 0 before the first. Clocks rising.
    static Signal steps(std::vector<std::pair<int32_t, float>> levels);
    // A square wave: `high` for the first half of every `period` samples (at least 1 sample),
    // `low` for the rest, and `low` before `delay`.
    static Signal clock(int32_t period, float high = volts(5), float low = 0.0f, int32_t delay = 0);
    // One sample per clock; a run may not be longer.
    static Signal samples(std::vector<float> samples);
    // Any source text `mvmhost render --in` takes, levels in volts and times at the host's
    // sample rate: "5", "clock:hz=4", "noise:seed=1", "ramp:period=1s", "steps:0,5@100",
    // "in.csv" (the column named after the plug), "in.csv#2".
    static Signal text(std::string source);

    Signal(Signal&&) noexcept;
    Signal& operator=(Signal&&) noexcept;
    ~Signal();

private:
    explicit Signal(std::unique_ptr<mvmhost::SignalSource> source);
    friend class TestHost;
    std::unique_ptr<mvmhost::SignalSource> source_;
    std::string text_;  // made into a source when fed, at the host's rate
};

struct Options {
    int32_t plugs = -1;  // the plug count the host answers; negative: as many as described
    int32_t blockSize = 1024;
    float sampleRate = 44100.0f;
    // Cut every stretch into process calls of random lengths (0 included), the same for a
    // seed: a module's output must not depend on how a block is cut.
    std::optional<uint64_t> splitSeed;
};

// The module told the host an output's stream state (host request 0).
struct Announcement {
    int32_t at;        // the host's sample clock when it came
    std::string plug;  // the plug's name
    int32_t state;     // an mv::StreamState, or whatever number the module sent
    int32_t from;      // the sample clock the module said the state holds from
    bool operator==(const Announcement& other) const {
        return at == other.at && plug == other.plug && state == other.state && from == other.from;
    }
};
std::ostream& operator<<(std::ostream& out, const Announcement& a);

// A request the host does not answer with a value of its own, other than an announcement:
// an event it was asked to post that is no routine call, a plug query or notice, an unknown
// request.
struct Request {
    int32_t at;  // the host's sample clock when it came
    int32_t request, index, value;
};

class TestHost {
public:
    // Loads the library and makes one instance with its plugs, not yet opened.
    explicit TestHost(const std::string& libraryFile, const Options& options = {});
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // The plugs' names in plug order; a plug repeated past the descriptions is named after
    // the last one and its index ("in_3").
    std::vector<std::string> plugNames() const;

    // The plan. An input nobody feeds holds its description's default (or 0); a list starts
    // at its description's default. Every clock lies within the run.
    void feed(const std::string& plug, Signal signal);
    // A list plug's item by label from `at` on (0: from the open). A change is told to the
    // module as a SingleChange, as a host tells it.
    void set(const std::string& plug, const std::string& label, int32_t at = 0);
    // The same by value, which need not be one of the list's.
    void setValue(const std::string& plug, int16_t value, int32_t at = 0);
    // An input's stream state told at `at`, beside what its signal implies.
    void streamState(const std::string& plug, mv::StreamState state, int32_t at);
    // An event delivered before sample `event.clock`.
    void event(const mv::ModuleEvent& event);
    void dataEvent(int32_t clock, int32_t first, int32_t second);

    // Opens the module and runs `samples` samples block by block; once per host.
    void run(int32_t samples);

    // What came back. Every Signal plug's samples: what the module wrote to an output, what
    // an input was fed.
    const std::vector<float>& samples(const std::string& plug) const;
    // Stream-state announcements in the order they came, those at open included.
    const std::vector<Announcement>& announcements() const;
    // The state last announced for an output; -1 when none was.
    int32_t lastState(const std::string& plug) const;
    const std::vector<Request>& requests() const;
    // How often the module made host request `request` (all, answered or not).
    uint64_t requestCount(int32_t request) const;
    int64_t processCalls() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace mv::kit
