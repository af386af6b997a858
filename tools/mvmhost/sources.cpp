#include "tools/mvmhost/sources.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <map>
#include <utility>

#include "tools/mvmhost/csv.h"
#include "tools/mvmhost/failure.h"
#include "tools/mvmhost/file_sources.h"


namespace mvmhost {
namespace {

bool parseInteger(const std::string& text, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

// "key=value,key=value" after a generator's name; every key must be one the generator knows.
std::map<std::string, std::string> parameters(const std::string& kind, const std::string& text,
                                              const std::vector<std::string>& known) {
    std::map<std::string, std::string> found;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        if (equals == std::string::npos || std::find(known.begin(), known.end(), key) == known.end()) {
            std::string list;
            for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k + "=";
            throw Failure(kind + ": '" + item + "' is not one of " + list);
        }
        found[key] = item.substr(equals + 1);
        start = comma + 1;
    }
    return found;
}

double voltsParameter(const std::string& kind, const std::map<std::string, std::string>& p,
                      const std::string& key, double fallback) {
    const auto it = p.find(key);
    if (it == p.end()) return fallback;
    double volts;
    if (!parseVolts(it->second, volts))
        throw Failure(kind + ": " + key + "=" + it->second + " is not a level in volts");
    return volts;
}

int64_t countParameter(const std::string& kind, const std::map<std::string, std::string>& p,
                       const std::string& key, int64_t fallback, int64_t least) {
    const auto it = p.find(key);
    if (it == p.end()) {
        if (fallback < least) throw Failure(kind + ": give " + key + "=N");
        return fallback;
    }
    int64_t value;
    if (!parseInteger(it->second, value) || value < least || value > INT32_MAX)
        throw Failure(kind + ": " + key + "=" + it->second + " must be a whole number from " +
                      std::to_string(least));
    return value;
}

class Constant : public SignalSource {
public:
    explicit Constant(float units) : units_(units) {}
    void fill(int32_t, float* out, int32_t count) override { std::fill_n(out, count, units_); }
    mv::StreamState initialState() const override { return mv::Static; }

private:
    float units_;
};

// High for the first duty share of every period, from `delay` on; low before it.
class Clock : public SignalSource {
public:
    Clock(int64_t period, int64_t highSamples, int64_t delay, float high, float low)
        : period_(period), highSamples_(highSamples), delay_(delay), high_(high), low_(low) {}
    void fill(int32_t first, float* out, int32_t count) override {
        for (int32_t i = 0; i < count; ++i) {
            const int64_t n = int64_t{first} + i - delay_;
            out[i] = n >= 0 && n % period_ < highSamples_ ? high_ : low_;
        }
    }

private:
    int64_t period_, highSamples_, delay_;
    float high_, low_;
};

class Ramp : public SignalSource {
public:
    Ramp(int64_t period, double from, double to) : period_(period), from_(from), to_(to) {}
    void fill(int32_t first, float* out, int32_t count) override {
        for (int32_t i = 0; i < count; ++i) {
            const double phase = double((int64_t{first} + i) % period_) / double(period_);
            out[i] = voltsToUnits(from_ + (to_ - from_) * phase);
        }
    }

private:
    int64_t period_;
    double from_, to_;
};

// Each sample a function of the seed and its clock alone, so any split of a render, on any
// platform, draws the same values.
class Noise : public SignalSource {
public:
    Noise(uint64_t seed, double low, double high) : seed_(seed), low_(low), high_(high) {}
    void fill(int32_t first, float* out, int32_t count) override {
        for (int32_t i = 0; i < count; ++i) {
            uint64_t z = seed_ + 0x9E3779B97F4A7C15ull * (uint64_t(int64_t{first} + i) + 1);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;  // splitmix64's finaliser
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            const double u = double(z >> 40) / double(uint64_t{1} << 24);
            out[i] = voltsToUnits(low_ + (high_ - low_) * u);
        }
    }

private:
    uint64_t seed_;
    double low_, high_;
};

// A level that a person sets and changes now and then: Static, with one change at each step.
class Steps : public SignalSource {
public:
    explicit Steps(std::vector<std::pair<int32_t, float>> steps) : steps_(std::move(steps)) {}
    void fill(int32_t first, float* out, int32_t count) override {
        auto next = std::upper_bound(steps_.begin(), steps_.end(), first,
                                     [](int32_t clock, const auto& step) { return clock < step.first; });
        float level = std::prev(next)->second;
        for (int32_t i = 0; i < count; ++i) {
            for (; next != steps_.end() && next->first <= first + i; ++next) level = next->second;
            out[i] = level;
        }
    }
    mv::StreamState initialState() const override { return mv::Static; }
    std::vector<int32_t> changeClocks() const override {
        std::vector<int32_t> clocks;
        for (size_t i = 1; i < steps_.size(); ++i)
            if (steps_[i].second != steps_[i - 1].second) clocks.push_back(steps_[i].first);
        return clocks;
    }

private:
    std::vector<std::pair<int32_t, float>> steps_;  // from clock 0, clocks rising
};

class Samples : public SignalSource {
public:
    Samples(std::vector<float> samples, int32_t rate) : samples_(std::move(samples)), rate_(rate) {}
    void fill(int32_t first, float* out, int32_t count) override {
        std::copy_n(samples_.begin() + first, count, out);  // the render checked the length
    }
    int64_t length() const override { return static_cast<int64_t>(samples_.size()); }
    int32_t sampleRate() const override { return rate_; }

private:
    std::vector<float> samples_;
    int32_t rate_;
};

std::unique_ptr<SignalSource> makeSteps(const std::string& text) {
    std::vector<std::pair<int32_t, float>> steps;
    size_t start = 0;
    do {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const size_t at = item.find('@');
        int64_t clock = 0;
        double volts;
        if (!parseVolts(item.substr(0, at), volts))
            throw Failure("steps: '" + item + "' is not LEVEL or LEVEL@SAMPLE");
        if (at != std::string::npos && (!parseInteger(item.substr(at + 1), clock) || clock < 0 ||
                                        clock > INT32_MAX))
            throw Failure("steps: '" + item + "' has no sample number after @");
        if (steps.empty() ? clock != 0 : clock <= steps.back().first)
            throw Failure("steps: the first level starts at sample 0, and every later one after the one before");
        steps.emplace_back(static_cast<int32_t>(clock), voltsToUnits(volts));
        start = comma + 1;
    } while (start <= text.size());
    return std::make_unique<Steps>(std::move(steps));
}

}  // namespace

bool parseVolts(const std::string& text, double& volts) {
    std::string number = text;
    while (!number.empty() && number.back() == ' ') number.pop_back();
    if (!number.empty() && (number.back() == 'V' || number.back() == 'v')) number.pop_back();
    while (!number.empty() && number.back() == ' ') number.pop_back();
    if (!number.empty() && number.front() == '+') {
        number.erase(0, 1);
        if (!number.empty() && (number.front() == '-' || number.front() == '+')) return false;
    }
    const char* end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data(), end, volts);
    return !number.empty() && error == std::errc() && stop == end && std::isfinite(volts);
}

float voltsToUnits(double volts) { return static_cast<float>(volts / 10.0); }

bool audioFilesSupported() {
#if defined(MVMHOST_AUDIO)
    return true;
#else
    return false;
#endif
}

std::unique_ptr<SignalSource> constantSource(float units) { return std::make_unique<Constant>(units); }

std::unique_ptr<SignalSource> samplesSource(std::vector<float> samples) {
    return std::make_unique<Samples>(std::move(samples), 0);
}

const char* sourceForms() {
    return "  LEVEL                   a constant, in volts: 5, 5V, -2.5\n"
           "  clock:period=N[,duty=F][,high=V][,low=V][,delay=N]\n"
           "                          a square wave (duty 0.5, 5 V over 0 V, no delay)\n"
           "  ramp:period=N[,from=V][,to=V]   a sawtooth (0 V to 10 V)\n"
           "  noise:seed=N[,min=V][,max=V]    uniform noise (-10 V to 10 V), the same for a seed\n"
           "  steps:V[,V@N]...        a level set by hand, changed at the given samples\n"
           "  FILE.csv[#COLUMN]       a CSV column, in signal units (default: the plug's name)\n"
           "  FILE.wav[#CHANNEL]      an audio file's channel (default 1), in any format\n"
           "                          libsndfile reads (Linux build)\n";
}

std::unique_ptr<SignalSource> makeSource(const std::string& text, const std::string& plugName) {
    double volts;
    if (parseVolts(text, volts)) return constantSource(voltsToUnits(volts));
    const size_t colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (kind == "const") {
        if (!parseVolts(rest, volts)) throw Failure("const: '" + rest + "' is not a level in volts");
        return constantSource(voltsToUnits(volts));
    }
    if (kind == "clock") {
        const auto p = parameters(kind, rest, {"period", "duty", "high", "low", "delay"});
        const int64_t period = countParameter(kind, p, "period", -1, 2);
        double duty = 0.5;
        if (p.count("duty") && (!parseVolts(p.at("duty"), duty) || duty <= 0.0 || duty >= 1.0))
            throw Failure("clock: duty=" + p.at("duty") + " must lie between 0 and 1");
        const int64_t highSamples = std::clamp<int64_t>(std::llround(duty * double(period)), 1, period - 1);
        return std::make_unique<Clock>(period, highSamples, countParameter(kind, p, "delay", 0, 0),
                                       voltsToUnits(voltsParameter(kind, p, "high", 5.0)),
                                       voltsToUnits(voltsParameter(kind, p, "low", 0.0)));
    }
    if (kind == "ramp") {
        const auto p = parameters(kind, rest, {"period", "from", "to"});
        return std::make_unique<Ramp>(countParameter(kind, p, "period", -1, 1),
                                      voltsParameter(kind, p, "from", 0.0),
                                      voltsParameter(kind, p, "to", 10.0));
    }
    if (kind == "noise") {
        const auto p = parameters(kind, rest, {"seed", "min", "max"});
        return std::make_unique<Noise>(static_cast<uint64_t>(countParameter(kind, p, "seed", -1, 0)),
                                       voltsParameter(kind, p, "min", -10.0),
                                       voltsParameter(kind, p, "max", 10.0));
    }
    if (kind == "steps") return makeSteps(rest);

    if (auto file = fileSource(text, plugName)) return file;
    throw Failure("'" + text + "' is neither a level, a generator (const, clock, ramp, noise, steps) nor a file");
}

}  // namespace mvmhost
