#include "tools/mvmhost/signal_io/sources.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <utility>

#include "tools/mvmhost/base/error.h"
#include "tools/mvmhost/base/random.h"
#include "tools/mvmhost/base/user_text.h"
#include "tools/mvmhost/signal_io/csv.h"
#include "tools/mvmhost/signal_io/file_sources.h"

namespace mvmhost {
namespace {

constexpr int64_t kShortestClockPeriod = 2;  // a high sample and a low one

// A level in volts as signal units, refused when no float sample holds it.
float levelUnits(const std::string& shown, double volts) {
    if (std::fabs(voltsToUnits(volts)) > std::numeric_limits<float>::max())
        throw Error(shown + " is beyond the range of a float sample (about 3.4e39 V)");
    return voltsToUnits(volts);
}

// A sample position or length typed in a source's text, at the render's rate.
int64_t samplesAt(const std::string& shown, const std::string& text, double rate, int64_t least,
                  const char* needs) {
    const std::optional<SampleTime> time = SampleTime::parse(text);
    if (!time) throw Error(shown + ": give " + kSampleTimeForms);
    const int64_t samples = time->at(rate);
    if (samples < least)
        throw Error(shown + (time->isTime() ? " (" + time->describe(rate) + ")" : "") + ": " +
                    needs);
    if (samples > INT32_MAX)
        throw Error(shown + ": beyond the longest render (" + std::to_string(INT32_MAX) +
                    " samples)");
    return samples;
}

// "key=value,key=value" after a generator's name; every key one the generator knows, once.
class Parameters {
public:
    Parameters(std::string kind, const std::string& text, const std::vector<std::string>& known,
               double rate)
        : kind_(std::move(kind)), rate_(rate) {
        for (size_t start = 0; start < text.size();) {
            size_t comma = text.find(',', start);
            if (comma == std::string::npos) comma = text.size();
            const std::string item = text.substr(start, comma - start);
            const size_t equals = item.find('=');
            const std::string key = item.substr(0, equals);
            if (equals == std::string::npos ||
                std::find(known.begin(), known.end(), key) == known.end()) {
                std::string list;
                for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k + "=";
                throw Error(kind_ + ": '" + item + "' is not one of " + list);
            }
            if (!found_.emplace(key, item.substr(equals + 1)).second)
                throw Error(kind_ + ": " + key + "= is given twice");
            start = comma + 1;
        }
    }

    bool has(const std::string& key) const { return found_.count(key) > 0; }
    std::string text(const std::string& key, const char* fallback) const {
        return has(key) ? found_.at(key) : fallback;
    }
    std::string shown(const std::string& key) const {
        return kind_ + ": " + key + "=" + found_.at(key);
    }

    double volts(const std::string& key, double fallback) const {
        if (!has(key)) return fallback;
        double volts;
        if (!parseVolts(found_.at(key), volts))
            throw Error(shown(key) + " is not a level in volts");
        levelUnits(shown(key), volts);
        return volts;
    }
    // A length or position; without a fallback the key must be given.
    int64_t samples(const std::string& key, std::optional<int64_t> fallback, int64_t least,
                    const char* needs) const {
        if (!has(key)) {
            if (!fallback) throw Error(kind_ + ": give " + key + "=N (" + kSampleTimeForms + ")");
            return *fallback;
        }
        return samplesAt(shown(key), found_.at(key), rate_, least, needs);
    }
    uint64_t seed(const std::string& key) const {
        if (!has(key)) throw Error(kind_ + ": give " + key + "=N");
        return parseSeed(shown(key), found_.at(key));
    }
    // A positive plain number, such as a frequency.
    double positive(const std::string& key) const {
        const std::optional<double> value = parseNumber(found_.at(key));
        if (!value || !(*value > 0)) throw Error(shown(key) + ": give a positive number");
        return *value;
    }
    double fraction(const std::string& key) const {
        const std::optional<double> value = parseNumber(found_.at(key));
        if (!value || !(*value > 0 && *value < 1))
            throw Error(shown(key) + " must lie between 0 and 1");
        return *value;
    }

private:
    std::string kind_;
    double rate_;
    std::map<std::string, std::string> found_;
};

class Constant : public SignalSource {
public:
    explicit Constant(float units) : units_(units) {}
    void fill(int32_t, float* out, int32_t count) override { std::fill_n(out, count, units_); }
    mv::StreamState initialState() const override { return mv::Static; }

private:
    float units_;
};

// High for the first `highSamples` of every period, from `delay` on; low before it. A period
// that is no whole number of samples (a clock given in Hz or BPM) starts every cycle on the
// sample nearest its exact time, worked out from the cycle's number: cycles of the two
// neighbouring lengths average to the exact period however long the render, without drift.
class Clock : public SignalSource {
public:
    Clock(double period, int64_t highSamples, int64_t delay, float high, float low)
        : period_(period), highSamples_(highSamples), delay_(delay), high_(high), low_(low) {}
    void fill(int32_t first, float* out, int32_t count) override {
        const int64_t n = int64_t{first} - delay_;
        int64_t cycle = n > 0 ? static_cast<int64_t>(double(n) / period_) : 0;
        while (cycle > 0 && start(cycle) > n) --cycle;
        while (start(cycle + 1) <= n) ++cycle;
        int64_t begin = start(cycle), next = start(cycle + 1);
        for (int32_t i = 0; i < count; ++i) {
            const int64_t k = n + i;
            if (k >= next) begin = next, next = start(++cycle + 1);
            out[i] = k >= 0 && k - begin < highSamples_ ? high_ : low_;
        }
    }

private:
    int64_t start(int64_t cycle) const {
        return static_cast<int64_t>(std::floor(double(cycle) * period_ + 0.5));
    }

    double period_;
    int64_t highSamples_, delay_;
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
            const uint64_t z = splitMixAt(seed_, uint64_t(int64_t{first} + i));
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
        auto next =
            std::upper_bound(steps_.begin(), steps_.end(), first,
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

std::unique_ptr<SignalSource> makeSteps(const std::string& text, double rate) {
    std::vector<std::pair<int32_t, float>> steps;
    size_t start = 0;
    do {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const size_t at = item.find('@');
        double volts;
        if (!parseVolts(item.substr(0, at), volts))
            throw Error("steps: '" + item + "' is not LEVEL or LEVEL@SAMPLE");
        const int64_t clock = at == std::string::npos
                                  ? 0
                                  : samplesAt("steps: " + item, item.substr(at + 1), rate, 0, "");
        if (steps.empty() ? clock != 0 : clock <= steps.back().first)
            throw Error(
                "steps: the first level starts at sample 0, and every later one after the one "
                "before");
        steps.emplace_back(static_cast<int32_t>(clock), levelUnits("steps: " + item, volts));
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
    // Beyond a double's range a level is infinite, for the caller to refuse in range words;
    // "inf" itself is no level.
    const std::optional<double> value = parseNumber(number);
    if (!value || (std::isinf(*value) && number.find_first_of("0123456789") == std::string::npos))
        return false;
    volts = *value;
    return true;
}

float voltsToUnits(double volts) { return static_cast<float>(volts / 10.0); }

bool audioFilesSupported() {
#if defined(MVMHOST_AUDIO)
    return true;
#else
    return false;
#endif
}

std::unique_ptr<SignalSource> constantSource(float units) {
    return std::make_unique<Constant>(units);
}

std::unique_ptr<SignalSource> samplesSource(std::vector<float> samples) {
    return std::make_unique<Samples>(std::move(samples), 0);
}

std::unique_ptr<SignalSource> clockSource(int64_t period, int64_t highSamples, int64_t delay,
                                          float high, float low) {
    return std::make_unique<Clock>(static_cast<double>(period), highSamples, delay, high, low);
}

std::unique_ptr<SignalSource> stepsSource(std::vector<std::pair<int32_t, float>> steps) {
    return std::make_unique<Steps>(std::move(steps));
}

const char* sourceForms() {
    return "  LEVEL                   a constant, in volts: 5, 5V, -2.5\n"
           "  clock:period=T[,duty=F][,high=V][,low=V][,delay=T]\n"
           "  clock:hz=F or clock:bpm=B, and the same options\n"
           "                          a square wave (duty 0.5, 5 V over 0 V, no delay)\n"
           "  ramp:period=T[,from=V][,to=V]   a sawtooth (0 V to 10 V)\n"
           "  noise:seed=N[,min=V][,max=V]    uniform noise (-10 V to 10 V), the same\n"
           "                                  for a seed\n"
           "  steps:V[,V@T]...        a level set by hand, changed at the given times\n"
           "  FILE.csv[#COLUMN]       a CSV column, in signal units (default: the\n"
           "                          plug's name)\n"
           "  FILE.wav[#CHANNEL]      an audio file's channel (default 1), in any format\n"
           "                          libsndfile reads (Linux build)\n"
           "T, a length or a position: a sample count (480) or a time (10s, 250ms, 2:30),\n"
           "rounded to the nearest sample.\n";
}

bool namesGenerator(const std::string& text) {
    double volts;
    const std::string kind = text.substr(0, text.find(':'));
    return parseVolts(text, volts) || kind == "const" || kind == "clock" || kind == "ramp" ||
           kind == "noise" || kind == "steps";
}

std::unique_ptr<SignalSource> makeSource(const std::string& text, const std::string& plugName,
                                         double rate) {
    double volts;
    if (parseVolts(text, volts))
        return constantSource(
            levelUnits(text.find_first_of("Vv") == std::string::npos ? text + " V" : text, volts));
    const size_t colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (kind == "const") {
        if (!parseVolts(rest, volts)) throw Error("const: '" + rest + "' is not a level in volts");
        return constantSource(levelUnits(text, volts));
    }
    if (kind == "clock") {
        const Parameters p(kind, rest, {"period", "hz", "bpm", "duty", "high", "low", "delay"},
                           rate);
        if (p.has("period") + p.has("hz") + p.has("bpm") > 1)
            throw Error("clock: give one of period=, hz= and bpm=");
        double period;  // in samples
        if (p.has("hz") || p.has("bpm")) {
            const char* key = p.has("hz") ? "hz" : "bpm";
            period = rate / p.positive(key) * (p.has("bpm") ? kSecondsPerMinute : 1);
            if (!(period >= kShortestClockPeriod))
                throw Error(p.shown(key) + " is faster than half the sample rate (" +
                            formatSample(float(rate)) + " Hz)");
            if (!(period <= INT32_MAX))
                throw Error(p.shown(key) + " is slower than the longest render");
        } else {
            period = double(p.samples("period", std::nullopt, kShortestClockPeriod,
                                      "a clock period needs at least 2 samples"));
        }
        const double duty = p.has("duty") ? p.fraction("duty") : 0.5;
        const int64_t longest =
            static_cast<int64_t>(period) - 1;  // the shorter of the two cycle lengths, less one
        const int64_t highSamples = std::clamp<int64_t>(std::llround(duty * period), 1, longest);
        return std::make_unique<Clock>(period, highSamples, p.samples("delay", 0, 0, ""),
                                       voltsToUnits(p.volts("high", 5.0)),
                                       voltsToUnits(p.volts("low", 0.0)));
    }
    if (kind == "ramp") {
        const Parameters p(kind, rest, {"period", "from", "to"}, rate);
        return std::make_unique<Ramp>(
            p.samples("period", std::nullopt, 1, "a ramp period needs at least 1 sample"),
            p.volts("from", 0.0), p.volts("to", 10.0));
    }
    if (kind == "noise") {
        const Parameters p(kind, rest, {"seed", "min", "max"}, rate);
        const double low = p.volts("min", -10.0), high = p.volts("max", 10.0);
        if (low > high)
            throw Error("noise: min=" + p.text("min", "-10") +
                        " is above max=" + p.text("max", "10"));
        return std::make_unique<Noise>(p.seed("seed"), low, high);
    }
    if (kind == "steps") return makeSteps(rest, rate);

    if (auto file = fileSource(text, plugName)) return file;
    throw Error("'" + text +
                "' is neither a level, a generator (const, clock, ramp, noise, steps) nor a file");
}

}  // namespace mvmhost
