// The counting kernel, written once over a small vector interface and compiled once per
// instruction set. Everything here has internal linkage: each translation unit is built with
// its own instruction-set flags, and a shared inline copy could let the linker hand AVX2 code
// to a processor without it.
//
// Between rising edges the counter's outputs are constant, apart from the reset impulse's
// countdown. After the first sample of a call, which takes the exact per-sample step, the
// samples go by in windows of 32, each reduced to two bit masks of high samples. A window
// without edges is stored a vector at a time, and so is one with a single edge that does not
// reset. Other windows take the exact step at each edge and store the run of samples after it.
#pragma once

#include <cstdint>
#include <cstring>

#include "modules/count_reset/count_kernel.h"

namespace mv {
namespace {

constexpr int32_t kWindow = 32;  // samples per pair of masks
constexpr int32_t kPulseSamples = 3;
constexpr float kPulseHigh = 0.5f;

// Loaded at offset 16 - n: n lanes of the impulse level, then zeros.
constexpr float kPulseRamp[32] = {
    kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh,
    kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh};

inline int32_t lowestBit(uint32_t mask) { return __builtin_ctz(mask); }

// V, the vector interface: Vec, kWidth, splat(float), load(const float*), store(float*, Vec)
// and highMask(const float*, Vec threshold): bit j set when x[j] >= threshold (NaN: clear).
template <class V>
class Kernel {
public:
    using Vec = typename V::Vec;
    static constexpr int32_t W = V::kWidth;
    static_assert(kWindow % W == 0 && W > kPulseSamples && W <= 16, "vector width");

    Kernel(const CountStreams& s, const CountState& state, float threshold, int16_t resetValue,
           int32_t count)
        : up(s.upCount), zero(s.upZero), step(s.byStep), out(s.outClimb), pulseOut(s.resetPulse),
          count(count), inPlace(out == up || out == zero || out == step || pulseOut == up ||
                                pulseOut == zero || pulseOut == step),
          stepShared(step == out || step == pulseOut), t(threshold), vt(V::splat(threshold)),
          level(double(resetValue) + 1.0), resetsAtZero(!(level > 0.0)),
          acc(state.accumulator), pulse(state.pulseCountdown),
          prevUp(state.previousUpCount >= threshold), prevZero(state.previousUpZero >= threshold) {}

    void run() {
        firstSample();  // resetValue may have changed since the last call
        const float* const up = this->up;
        const float* const zero = this->zero;
        const float* const step = this->step;
        float* const out = this->out;
        float* const pulseOut = this->pulseOut;
        const int32_t count = this->count;
        const double level = this->level;
        for (int32_t i = 1; i < count;) {
            uint32_t highUp, highZero;
            int32_t end = windowAt(i, highUp, highZero);
            if (end - i == kWindow && (pulse == 0 || resetsAlways)) {
                // The loop most samples see: whole windows, no impulse running.
                float acc = this->acc;
                Vec vOut = V::splat(acc);
                const Vec vPulse = V::splat(resetsAlways ? kPulseHigh : 0.0f);
                uint32_t pu = prevUp, pz = prevZero;
                for (;;) {
                    const uint32_t edgeUp = highUp & ~((highUp << 1) | pu);
                    const uint32_t edgeZero = highZero & ~((highZero << 1) | pz);
                    if (edgeUp | edgeZero) {
                        // One edge without a reset: two runs. Anything else is left to window.
                        const uint32_t stops = edgeUp | edgeZero;
                        if ((stops & (stops - 1)) || resetsAlways) break;
                        const int32_t k = lowestBit(stops);
                        float next = acc;
                        if (edgeUp) next += step[i + k];
                        if (edgeZero) next = 0.0f;
                        if (!(level > double(next) * 10.0)) break;
                        if (k) fill(out, i, i + k, end, vOut, acc);
                        acc = next;
                        vOut = V::splat(acc);
                        fill(out, i + k, end, end, vOut, acc);
                        for (int32_t j = 0; j < kWindow; j += W) V::store(pulseOut + i + j, vPulse);
                    } else {
                        for (int32_t j = 0; j < kWindow; j += W) {
                            V::store(out + i + j, vOut);
                            V::store(pulseOut + i + j, vPulse);
                        }
                    }
                    pu = highUp >> (kWindow - 1);
                    pz = highZero >> (kWindow - 1);
                    i = end;
                    if (count - i < kWindow) break;
                    highUp = windowMask(up + i);
                    highZero = windowMask(zero + i);
                    end = i + kWindow;
                }
                this->acc = acc;
                prevUp = pu;
                prevZero = pz;
                if (i == end) continue;
            }
            window(i, end, highUp, highZero);
            i = end;
        }
    }

    void finish(CountState& state) const {
        state.accumulator = acc;
        state.pulseCountdown = static_cast<int16_t>(pulse);
    }

private:
    // The per-sample routine's step, on sample 0.
    void firstSample() {
        const uint32_t highUp = up[0] >= t, highZero = zero[0] >= t;
        if (highUp && !prevUp) acc += step[0];
        if (highZero && !prevZero) acc = 0.0f;
        if (!(level > double(acc) * 10.0)) {
            acc = 0.0f;
            pulse = kPulseSamples;
            resetsAlways = resetsAtZero;
        }
        pulseOut[0] = pulse > 0 ? (--pulse, kPulseHigh) : 0.0f;
        out[0] = acc;
        prevUp = highUp;
        prevZero = highZero;
    }

    uint32_t windowMask(const float* x) const {
        uint32_t mask = 0;
        for (int32_t v = 0; v < kWindow / W; ++v) mask |= V::highMask(x + v * W, vt) << (v * W);
        return mask;
    }

    // The masks of the window starting at i (bit k: sample i + k); answers its end. Never
    // reads past count.
    int32_t windowAt(int32_t i, uint32_t& highUp, uint32_t& highZero) const {
        if (count - i >= kWindow) {
            highUp = windowMask(up + i);
            highZero = windowMask(zero + i);
            return i + kWindow;
        }
        if (count >= kWindow) {
            // A last full window ending at count, minus the lanes already processed (in
            // place, they may hold outputs by now).
            const int32_t drop = i - (count - kWindow);
            highUp = windowMask(up + count - kWindow) >> drop;
            highZero = windowMask(zero + count - kWindow) >> drop;
            return count;
        }
        highUp = shortMask(up, i);
        highZero = shortMask(zero, i);
        return count;
    }

    uint32_t shortMask(const float* x, int32_t i) const {
        uint32_t mask = 0;
        if (count >= W) {
            int32_t j = i;
            for (; count - j >= W; j += W) mask |= V::highMask(x + j, vt) << (j - i);
            if (j < count) mask |= (V::highMask(x + count - W, vt) >> (j - count + W)) << (j - i);
        } else {
            for (int32_t j = i; j < count; ++j) mask |= uint32_t(x[j] >= t) << (j - i);
        }
        return mask;
    }

    // dst[a .. b-1] = value, storing whole vectors that stay below limit.
    static void fill(float* dst, int32_t a, int32_t b, int32_t limit, Vec v, float value) {
        if (limit - a < W) {
            for (; a < b; ++a) dst[a] = value;
            return;
        }
        int32_t j = a;
        for (; b - j > W; j += W) V::store(dst + j, v);
        V::store(dst + (j < limit - W ? j : limit - W), v);
    }

    // Where a window's stores may reach: ahead of the window only when no input can be
    // overwritten by it.
    int32_t storeLimit(int32_t end) const { return inPlace ? end : count; }

    // The first vector of a run from `at`, or the whole rest of the window near the limit.
    static void storeRun(float* dst, int32_t at, int32_t end, int32_t limit, Vec v, float value,
                         int32_t high) {
        if (limit - at >= W) {
            V::store(dst + at, v);
        } else {
            for (int32_t j = at; j < end; ++j) dst[j] = j - at < high ? kPulseHigh : value;
        }
    }

    // A window with edges, while no impulse runs: RESETpulse is 0 throughout, and a run is
    // acc from its edge on. A reset hands the rest of the window to `pulsing`.
    __attribute__((noinline)) void window(int32_t i, int32_t end, uint32_t highUp,
                                          uint32_t highZero) {
        const int32_t n = end - i;
        const uint32_t edgeUp = highUp & ~((highUp << 1) | prevUp);
        const uint32_t edgeZero = highZero & ~((highZero << 1) | prevZero);
        prevUp = (highUp >> (n - 1)) & 1u;
        prevZero = (highZero >> (n - 1)) & 1u;
        uint32_t stops = edgeUp | edgeZero;

        // In place, the steps are read before any store of the window.
        float steps[kWindow];
        if (stepShared)
            for (uint32_t m = edgeUp; m; m &= m - 1) steps[lowestBit(m)] = step[i + lowestBit(m)];
        const float* const stepOf = stepShared ? steps : step + i;  // by window lane

        if (pulse != 0 || resetsAlways) {
            pulsing(i, end, i, edgeUp, edgeZero, stops, stepOf);
            return;
        }
        float* const out = this->out;
        const int32_t limit = storeLimit(end);
        const double level = this->level;
        float acc = this->acc;
        Vec vOut = V::splat(acc);
        fill(pulseOut, i, end, limit, V::splat(0.0f), 0.0f);
        storeRun(out, i, end, limit, vOut, acc, 0);
        int32_t runAt = i;
        for (; stops; stops &= stops - 1) {
            const int32_t k = lowestBit(stops), at = i + k;
            if (at - runAt > W) fill(out, runAt + W, at, limit, vOut, acc);
            if ((edgeUp >> k) & 1u) acc += stepOf[k];
            if ((edgeZero >> k) & 1u) acc = 0.0f;
            if (!(level > double(acc) * 10.0)) {
                this->acc = 0.0f;
                pulse = kPulseSamples;
                resetsAlways = resetsAtZero;
                pulsing(i, end, at, edgeUp, edgeZero, stops & (stops - 1), stepOf);
                return;
            }
            vOut = V::splat(acc);
            runAt = at;
            storeRun(out, at, end, limit, vOut, acc, 0);
        }
        if (end - runAt > W) fill(out, runAt + W, end, limit, vOut, acc);
        this->acc = acc;
    }

    // The rest of a window from `from`, whose step is done, while an impulse may run: each
    // run stores the impulse's remaining samples with its first vector, and counts them down.
    // A reset to 0 at a level at or below 0 repeats on every sample after it, each carrying
    // the impulse and leaving the countdown at 2.
    __attribute__((noinline)) void pulsing(int32_t i, int32_t end, int32_t from, uint32_t edgeUp,
                                           uint32_t edgeZero, uint32_t stops,
                                           const float* stepOf) {
        float* const out = this->out;
        float* const pulseOut = this->pulseOut;
        const int32_t limit = storeLimit(end);
        float acc = this->acc;
        int32_t pulse = this->pulse;
        bool resetsAlways = this->resetsAlways;
        Vec vOut = V::splat(acc);

        int32_t runAt = from, runPulse = 0;
        auto startRun = [&](int32_t at) {
            runAt = at;
            runPulse = resetsAlways ? W : pulse;
            storeRun(out, at, end, limit, vOut, acc, 0);
            storeRun(pulseOut, at, end, limit, V::load(kPulseRamp + 16 - runPulse), 0.0f,
                     runPulse);
        };
        auto endRun = [&](int32_t at) {
            if (at - runAt > W) {
                const float pulseValue = resetsAlways ? kPulseHigh : 0.0f;
                fill(out, runAt + W, at, limit, vOut, acc);
                fill(pulseOut, runAt + W, at, limit, V::splat(pulseValue), pulseValue);
            }
            const int32_t left = runPulse - (at - runAt);
            pulse = resetsAlways ? kPulseSamples - 1 : left > 0 ? left : 0;
        };

        startRun(from);
        for (; stops; stops &= stops - 1) {
            const int32_t k = lowestBit(stops), at = i + k;
            endRun(at);
            if ((edgeUp >> k) & 1u) acc += stepOf[k];
            if ((edgeZero >> k) & 1u) acc = 0.0f;
            resetsAlways = false;
            if (!(level > double(acc) * 10.0)) {
                acc = 0.0f;
                pulse = kPulseSamples;
                resetsAlways = resetsAtZero;
            }
            vOut = V::splat(acc);
            startRun(at);
        }
        endRun(end);
        this->acc = acc;
        this->pulse = pulse;
        this->resetsAlways = resetsAlways;
    }

    const float* const up;
    const float* const zero;
    const float* const step;
    float* const out;
    float* const pulseOut;
    const int32_t count;
    const bool inPlace, stepShared;
    const float t;
    const Vec vt;
    const double level;  // the reset comes where acc * 10 is not below it
    const bool resetsAtZero;
    float acc;
    int32_t pulse;              // impulse samples still to come
    bool resetsAlways = false;  // every edge-free sample resets
    uint32_t prevUp, prevZero;  // 1: the last sample processed is high
};

template <class V>
void countWith(const CountStreams& streams, CountState& state, float threshold,
               int16_t resetValue, int32_t count) {
    if (count <= 0) return;
    Kernel<V> kernel(streams, state, threshold, resetValue, count);
    // Kept as read, signalling NaNs included, and before any output can overwrite them.
    std::memcpy(&state.previousUpCount, streams.upCount + count - 1, sizeof(float));
    std::memcpy(&state.previousUpZero, streams.upZero + count - 1, sizeof(float));
    kernel.run();
    kernel.finish(state);
}

}  // namespace
}  // namespace mv
