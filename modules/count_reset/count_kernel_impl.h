// The counting kernel, written once over a small vector interface and compiled once per
// instruction set. Everything here has internal linkage: each translation unit is built with
// its own instruction-set flags, and a shared inline copy could let the linker hand AVX2 code
// to a processor without it.
//
// Between rising edges the counter's outputs are constant (apart from the reset impulse's
// countdown), so a window of 32 samples is reduced to two bit masks of high samples, and only
// the samples where an edge starts, plus the first of each call, take the exact per-sample
// step. Edge-free runs are stored a vector at a time.
#pragma once

#include <cstdint>
#include <cstring>

#include "modules/count_reset/count_kernel.h"

namespace mv {
namespace {

constexpr int32_t kWindow = 32;  // samples per pair of masks
constexpr int16_t kPulseSamples = 3;
constexpr float kPulseHigh = 0.5f;

inline int32_t lowestBit(uint32_t mask) { return __builtin_ctz(mask); }

// V: the vector interface — Vec, kWidth, splat(float), store(float*, Vec) and
// highMask(const float*, Vec threshold): bit j set when x[j] >= threshold (NaN: clear).
template <class V>
class Counter {
public:
    using Vec = typename V::Vec;
    static constexpr int32_t W = V::kWidth;
    static_assert(kWindow % W == 0, "whole vectors per window");

    Counter(const CountStreams& s, const CountState& state, float threshold, int16_t resetValue)
        : up(s.upCount), zero(s.upZero), step(s.byStep), out(s.outClimb), pulseOut(s.resetPulse),
          stepShared(s.byStep == s.outClimb || s.byStep == s.resetPulse), t(threshold),
          vt(V::splat(threshold)), level(double(resetValue) + 1.0),
          resetsAtZero(!(level > 0.0)), acc(state.accumulator), pulse(state.pulseCountdown),
          prevUp(state.previousUpCount >= threshold), prevZero(state.previousUpZero >= threshold) {
        settle(false);
    }

    void run(int32_t count) {
        int32_t i = 0;
        while (count - i >= kWindow) {
            window(i, i + kWindow, windowMask(up + i), windowMask(zero + i));
            i += kWindow;
        }
        if (i == count) return;
        if (count >= kWindow) {
            // One more full window ending at count; the lanes already processed are dropped
            // (in place, they may hold outputs by now).
            const int32_t from = count - kWindow, drop = i - from;
            window(i, count, windowMask(up + from) >> drop, windowMask(zero + from) >> drop);
        } else {
            window(i, count, shortMask(up, i, count), shortMask(zero, i, count));
        }
    }

    void finish(CountState& state) const {
        state.accumulator = acc;
        state.pulseCountdown = static_cast<int16_t>(pulse);
    }

private:
    uint32_t windowMask(const float* x) const {
        uint32_t mask = 0;
        for (int32_t v = 0; v < kWindow / W; ++v) mask |= V::highMask(x + v * W, vt) << (v * W);
        return mask;
    }

    // Samples i .. count-1 of a call shorter than a window, without reading past count.
    uint32_t shortMask(const float* x, int32_t i, int32_t count) const {
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

    // Samples i .. end-1; bit k of the masks is sample i + k. Writes stay inside [i, end).
    void window(int32_t i, int32_t end, uint32_t highUp, uint32_t highZero) {
        const int32_t n = end - i;
        const uint32_t edgeUp = highUp & ~((highUp << 1) | prevUp);
        const uint32_t edgeZero = highZero & ~((highZero << 1) | prevZero);
        prevUp = (highUp >> (n - 1)) & 1u;
        prevZero = (highZero >> (n - 1)) & 1u;
        // The first sample of a call takes the exact step: resetValue may have changed.
        uint32_t stops = edgeUp | edgeZero | firstSample;
        firstSample = 0;

        if (!stops && steady() && n == kWindow) {
            for (int32_t j = 0; j < kWindow; j += W) {
                V::store(out + i + j, vOut);
                V::store(pulseOut + i + j, vPulse);
            }
            return;
        }
        // Run fills may spill into later samples of the window, so a step buffer shared with
        // an output is read before anything is written.
        float steps[kWindow];
        if (stepShared)
            for (uint32_t m = edgeUp; m; m &= m - 1) steps[lowestBit(m)] = step[i + lowestBit(m)];

        int32_t from = i;
        for (; stops; stops &= stops - 1) {
            const int32_t k = lowestBit(stops), at = i + k;
            fillRun(from, at, end);
            const bool isUp = (edgeUp >> k) & 1u;
            const float stepValue = !isUp ? 0.0f : stepShared ? steps[k] : step[at];
            stepOne(at, isUp, (edgeZero >> k) & 1u, stepValue);
            from = at + 1;
        }
        fillRun(from, end, end);
    }

    // The per-sample routine's step, for an edge (or the first sample of a call).
    void stepOne(int32_t at, bool isUp, bool isZero, float stepValue) {
        if (isUp) acc += stepValue;
        if (isZero) acc = 0.0f;
        bool reset = false;
        if (!(level > double(acc) * 10.0)) {
            acc = 0.0f;
            pulse = kPulseSamples;
            reset = true;
        }
        pulseOut[at] = pulse > 0 ? (--pulse, kPulseHigh) : 0.0f;
        out[at] = acc;
        settle(reset);
    }

    // What the samples up to the next edge hold. A sample's reset test passes for the
    // accumulator it leaves unless it was reset to 0 and the level is at or below 0; then
    // every sample resets, so each carries the impulse and leaves the countdown at 2.
    void settle(bool reset) {
        resetsAlways = reset && resetsAtZero;
        vOut = V::splat(acc);
        vPulse = V::splat(resetsAlways ? kPulseHigh : 0.0f);
        pulseValue = resetsAlways ? kPulseHigh : 0.0f;
    }

    bool steady() const { return pulse == 0 || resetsAlways; }

    // Edge-free samples a .. b-1; stores may reach up to limit, whose samples come later.
    void fillRun(int32_t a, int32_t b, int32_t limit) {
        for (; pulse > 0 && !resetsAlways && a < b; ++a, --pulse) {
            pulseOut[a] = kPulseHigh;
            out[a] = acc;
        }
        if (a >= b) return;
        fill(out, a, b, limit, vOut, acc);
        fill(pulseOut, a, b, limit, vPulse, pulseValue);
    }

    static void fill(float* dst, int32_t a, int32_t b, int32_t limit, Vec v, float value) {
        if (limit - a < W) {
            for (; a < b; ++a) dst[a] = value;
            return;
        }
        int32_t j = a;
        for (; b - j > W; j += W) V::store(dst + j, v);
        V::store(dst + (j < limit - W ? j : limit - W), v);
    }

    const float* up;
    const float* zero;
    const float* step;
    float* out;
    float* pulseOut;
    const bool stepShared;
    const float t;
    const Vec vt;
    const double level;
    const bool resetsAtZero;
    float acc;
    int32_t pulse;
    uint32_t prevUp, prevZero;  // 1: the sample before the next is high
    uint32_t firstSample = 1;
    bool resetsAlways = false;
    Vec vOut, vPulse;
    float pulseValue = 0.0f;
};

template <class V>
void countWith(const CountStreams& streams, CountState& state, float threshold,
               int16_t resetValue, int32_t count) {
    if (count <= 0) return;
    Counter<V> counter(streams, state, threshold, resetValue);
    // Kept as read, signalling NaNs included, and before any output can overwrite them.
    std::memcpy(&state.previousUpCount, streams.upCount + count - 1, sizeof(float));
    std::memcpy(&state.previousUpZero, streams.upZero + count - 1, sizeof(float));
    counter.run(count);
    counter.finish(state);
}

}  // namespace
}  // namespace mv
