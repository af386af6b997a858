// The counting kernel, written once over a small vector interface and compiled once per
// instruction set. Everything here has internal linkage: each translation unit is built with
// its own instruction-set flags, and a shared inline copy could let the linker hand AVX2 code
// to a processor without it.
//
// Between rising edges the counter's outputs are constant, apart from the reset impulse's
// countdown. The samples go by in windows of 32, each reduced to two bit masks of high
// samples. The samples where an edge starts, and the first of each call, take the exact
// per-sample step; the runs between them are stored a vector at a time.
#pragma once

#include <cstdint>
#include <cstring>

#include "modules/count_reset/count_kernel.h"
#include "modules/count_reset/count_reset_module.h"

namespace mv {
namespace {

constexpr int32_t kWindow = 32;  // samples per pair of masks
constexpr int32_t kPulseSamples = CountResetModule::kPulseLength;
constexpr float kPulseHigh = CountResetModule::kPulseLevel;

// Loaded at offset 16 - n: n lanes of the impulse level, then zeros.
constexpr float kPulseRamp[32] = {
    kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh,
    kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh, kPulseHigh};

// Loaded at offset kWindow - k: lanes below k all bits set, the rest clear (0 <= k < kWindow,
// within a window). A load where a compare of splatted lane numbers cost a shuffle a vector.
struct LaneMasks {
    uint32_t bits[2 * kWindow];
};
constexpr LaneMasks makeLanesBelow() {
    LaneMasks masks{};
    for (int32_t j = 0; j < kWindow; ++j) masks.bits[j] = ~0u;
    return masks;
}
alignas(64) constexpr LaneMasks kLanesBelow = makeLanesBelow();

// Whether a window's mask has a rising edge, given the sample before it (0 or 1): without
// one the mask is a run of high samples continuing from before, then low ones, and adding
// that sample's bit carries through the run.
inline uint32_t hasEdge(uint32_t high, uint32_t before) { return high & (high + before); }

inline uint32_t lowestBit(uint32_t mask) { return static_cast<uint32_t>(__builtin_ctz(mask)); }
// Set bits, without the popcnt instruction the baseline lacks.
inline uint32_t ones(uint32_t m) {
    m -= (m >> 1) & 0x55555555u;
    m = (m & 0x33333333u) + ((m >> 2) & 0x33333333u);
    return (((m + (m >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24;
}

// A stream is busy when its edges come on average at most kBusyRun samples apart: the kernels
// cannot skip runs that short, and the per-sample routine beats their per-edge work there.
// Hosts feed a counter such streams call after call (a frequency divider on an audio-rate
// signal), so the kernels weigh each call's stops against its samples (busyCredit, floored so
// that noise seldom reaches 0 by chance), and once it reaches 0 the next kBusySamples samples
// go to the per-sample routine; then a kernel weighs again. The figures come from the
// benchmarks: on busy streams a kernel call costs at most a third more than the routine's.
constexpr int32_t kBusyRun = 3;
constexpr int32_t kBusySamples = 4096;
constexpr int32_t kBusyCreditFloor = -2 * kWindow;

inline void weighBusy(CountResetModule& m, int32_t stops, int32_t count) {
    const int64_t credit = int64_t(m.busyCredit) + int64_t(stops) * kBusyRun - count;
    const bool busy = credit >= 0;
    m.busySamplesLeft = busy ? kBusySamples : 0;
    m.busyCredit = busy || credit < kBusyCreditFloor ? kBusyCreditFloor : int32_t(credit);
}

// 32-bit x86 has seven general registers, and the general loop below spills its state to the
// stack there: the 32-bit builds take whole windows in a loop of their own, with masks from
// packed compares. On x86-64 both ran slower than the general loop.
constexpr bool kFewRegisters = sizeof(void*) == 4;

// For code layout: the per-edge loops run straight through in the common case.
inline bool rarely(bool condition) { return __builtin_expect(condition, false); }

// The reset test `!(resetValue + 1 > double(acc) * 10)` as `!(acc < limit)`: acc * 10 is
// exact in double (24 + 4 bits), so the test only asks on which side of (resetValue + 1) / 10
// acc lies, and limit is the least float on the resetting side.
inline float resetLimit(double level) {
    constexpr double kScale = CountResetModule::kVoltsPerUnit;
    // level / 10 rounded to a float is the limit or the float just below it.
    float limit = static_cast<float>(level / kScale);
    while (level > double(limit) * kScale) {
        uint32_t bits;  // the next float towards +inf; limit is finite and not 0
        std::memcpy(&bits, &limit, sizeof bits);
        bits = bits >> 31 ? bits - 1 : bits + 1;
        std::memcpy(&limit, &bits, sizeof bits);
    }
    return limit;
}

// V, the vector interface: Vec, kWidth, leave() before returning to code that may not use the
// same instruction set, splat(float), load(const float*), store(float*, Vec),
// storeFirst(float*, Vec, n) for lanes 0 .. n-1 only (0 < n < kWidth), loadBits(const
// uint32_t*), bitAnd(Vec, Vec), bitXor(Vec, Vec), highMask(const float*, Vec threshold): bit j
// set when x[j] >= threshold (NaN: clear), and windowMask(const float*, Vec threshold): the
// same for the kWindow samples from x.
template <class V>
class Kernel {
public:
    using Vec = typename V::Vec;
    static constexpr int32_t W = V::kWidth;
    static_assert(kWindow % W == 0 && W > kPulseSamples && W <= 16, "vector width");

    Kernel(const CountStreams& s, bool inPlace, const CountResetModule& m, int32_t count)
        : up(s.upCount),
          zero(s.upZero),
          step(s.byStep),
          out(s.outClimb),
          pulseOut(s.resetPulse),
          count(count),
          t(m.threshold),
          accLimit(m.resetLimit),
          resetsAtZero(!(0.0f < accLimit)),
          inPlace(inPlace),
          acc(m.accumulator),
          pulse(m.pulseCountdown),
          prevUp(m.previousUpCount >= t),
          prevZero(m.previousUpZero >= t) {}

    void run() {
        const float* const step = this->step;
        float* const out = this->out;
        float* const pulseOut = this->pulseOut;
        const int32_t count = this->count;
        const float accLimit = this->accLimit;
        // The first sample of a call always takes the step: resetValue may have changed.
        uint32_t force = 1;
        for (int32_t i = 0; i < count;) {
            uint32_t highUp, highZero;
            int32_t end = windowAt(i, highUp, highZero);
            if (pulse == 0 || resetsAlways) {
                // The loop most samples see: no impulse running, at most one edge per window.
                float acc = this->acc;
                Vec vOut = V::splat(acc);
                const Vec vPulse = V::splat(resetsAlways ? kPulseHigh : 0.0f);
                uint32_t pu = prevUp, pz = prevZero;
                for (;;) {
                    if (kFewRegisters && end - i == kWindow && !force) {
                        // Whole windows with at most one edge, in a loop that holds little
                        // else. It leaves a window it cannot take, masks taken, to the code
                        // below, and so the last window when it is not a whole one.
                        bool taken = true;
                        for (;;) {
                            if (hasEdge(highUp, pu) | hasEdge(highZero, pz)) {
                                const uint32_t edgeUp = highUp & ~((highUp << 1) | pu);
                                const uint32_t edgeZero = highZero & ~((highZero << 1) | pz);
                                const uint32_t stops = edgeUp | edgeZero;
                                taken = !(stops & (stops - 1)) && !resetsAlways;
                                if (!taken) break;
                                const int32_t k = int32_t(lowestBit(stops));
                                float next = acc;
                                if (edgeUp) next += step[i + k];
                                if (edgeZero) next = 0.0f;
                                taken = next < accLimit;
                                if (!taken) break;
                                const Vec vNext = V::splat(next);
                                storeStep(i, k, vOut, vNext, vPulse);
                                acc = next;
                                vOut = vNext;
                                ++stopsSeen;
                            } else {
#pragma GCC unroll 8
                                for (int32_t j = 0; j < kWindow; j += W) {
                                    V::store(out + i + j, vOut);
                                    V::store(pulseOut + i + j, vPulse);
                                }
                            }
                            pu = highUp >> (kWindow - 1);
                            pz = highZero >> (kWindow - 1);
                            i += kWindow;
                            if (count - i < kWindow) break;
                            highUp = windowMask(up + i);
                            highZero = windowMask(zero + i);
                        }
                        if (i == count) break;
                        end = taken ? windowAt(i, highUp, highZero) : i + kWindow;
                    }
                    const int32_t n = end - i;
                    const uint32_t edgeUp = highUp & ~((highUp << 1) | pu);
                    const uint32_t edgeZero = highZero & ~((highZero << 1) | pz);
                    const uint32_t stops = edgeUp | edgeZero | force;
                    if (stops) {
                        // One step without a reset makes two runs; anything else is left to
                        // busyWindows. The step is read before any store of the window.
                        if ((stops & (stops - 1)) || resetsAlways) break;
                        const int32_t k = int32_t(lowestBit(stops));
                        float next = acc;
                        if (edgeUp) next += step[i + k];
                        if (edgeZero) next = 0.0f;
                        if (!(next < accLimit)) break;
                        const Vec vNext = V::splat(next);
                        if (n == kWindow) {
                            storeStep(i, k, vOut, vNext, vPulse);
                        } else {
                            if (k) fill(out, i, i, i + k, end, vOut);
                            fill(out, i + k, i + k, end, end, vNext);
                            fill(pulseOut, i, i, end, end, vPulse);
                        }
                        acc = next;
                        vOut = vNext;
                        force = 0;
                        ++stopsSeen;
                    } else if (n == kWindow) {
#pragma GCC unroll 8
                        for (int32_t j = 0; j < kWindow; j += W) {
                            V::store(out + i + j, vOut);
                            V::store(pulseOut + i + j, vPulse);
                        }
                    } else {
                        fill(out, i, i, end, end, vOut);
                        fill(pulseOut, i, i, end, end, vPulse);
                    }
                    pu = (highUp >> (n - 1)) & 1u;
                    pz = (highZero >> (n - 1)) & 1u;
                    i = end;
                    if (i == count) break;
                    end = windowAt(i, highUp, highZero);
                }
                this->acc = acc;
                prevUp = pu;
                prevZero = pz;
                if (i == count) break;
            }
            i = busyWindows(i, end, highUp, highZero, force);
            force = 0;
        }
    }

    void finish(CountResetModule& m) const {
        m.accumulator = acc;
        m.pulseCountdown = static_cast<int16_t>(pulse);
        weighBusy(m, stopsSeen, count);
    }

private:
    uint32_t windowMask(const float* x) const {
        const Vec vt = V::splat(t);
        if (kFewRegisters) return V::windowMask(x, vt);
        uint32_t mask = 0;
        // Unrolled at every optimisation level: the shifts become constants.
#pragma GCC unroll 8
        for (int32_t v = 0; v < kWindow / W; ++v) mask |= V::highMask(x + v * W, vt) << (v * W);
        return mask;
    }

    // The masks of the window starting at i (bit k: sample i + k); answers its end. Never
    // reads past count.
    // Inlined for whole windows: a call per window would cost, on 32-bit x86, the masks'
    // round trip through memory and the vector registers' spills around it.
    __attribute__((always_inline)) int32_t windowAt(int32_t i, uint32_t& highUp,
                                                    uint32_t& highZero) const {
        if (!rarely(count - i < kWindow)) {
            highUp = windowMask(up + i);
            highZero = windowMask(zero + i);
            return i + kWindow;
        }
        const uint64_t masks = lastMasks(i);
        highUp = uint32_t(masks);
        highZero = uint32_t(masks >> 32);
        return count;
    }

    // The masks of the last window of a call, from i to count, shorter than a whole one:
    // upCOUNT's in the low half, upZERO's in the high. Returned in registers: references would
    // keep the masks in memory in the loops that call it. They are those of the whole window
    // ending at count, minus the lanes already processed (in place, they may hold outputs by
    // now).
    __attribute__((noinline)) uint64_t lastMasks(int32_t i) const {
        const int32_t drop = i - (count - kWindow);
        return windowMask(up + count - kWindow) >> drop |
               uint64_t(windowMask(zero + count - kWindow) >> drop) << 32;
    }

    // dst[a .. b-1] = v, where dst[from .. a-1] holds v already: whole vectors that stay
    // inside [from, limit), or the first lanes of one where no whole vector fits.
    static void fill(float* dst, int32_t from, int32_t a, int32_t b, int32_t limit, Vec v) {
        if (limit - from < W) {
            V::storeFirst(dst + a, v, b - a);
            return;
        }
        int32_t j = a;
        for (; b - j > W; j += W) V::store(dst + j, v);
        V::store(dst + (j < limit - W ? j : limit - W), v);
    }

    // A whole window from i with one step, at lane k: OUTclimb `before` in the lanes below k
    // and `after` from k on, RESETpulse `pulse` throughout.
    __attribute__((always_inline)) void storeStep(int32_t i, int32_t k, Vec before, Vec after,
                                                  Vec pulse) const {
        const Vec change = V::bitXor(before, after);
        const uint32_t* const below = kLanesBelow.bits + kWindow - k;
#pragma GCC unroll 8
        for (int32_t j = 0; j < kWindow; j += W) {
            const Vec kept = V::bitAnd(V::loadBits(below + j), change);
            V::store(out + i + j, V::bitXor(after, kept));
            V::store(pulseOut + i + j, pulse);
        }
    }

    // Where a window's stores may reach: ahead of the window only when no input can be
    // overwritten by it.
    int32_t storeLimit(int32_t end) const { return inPlace ? end : count; }

    // A run's first store: a vector from `at`, cut short at limit. Answers the first sample it
    // leaves unwritten.
    static int32_t startRun(float* dst, int32_t at, int32_t limit, Vec v) {
        if (!rarely(at > limit - W)) {
            V::store(dst + at, v);
            return at + W;
        }
        V::storeFirst(dst + at, v, limit - at);
        return limit;
    }

    // The same with two vectors where they fit: between dense edges a run rarely outlasts
    // them, so the gap test after it is rarely true, where one vector's is a coin toss.
    static int32_t startWideRun(float* dst, int32_t at, int32_t limit, Vec v) {
        if (!rarely(at > limit - 2 * W)) {
            V::store(dst + at, v);
            V::store(dst + at + W, v);
            return at + 2 * W;
        }
        return startRun(dst, at, limit, v);
    }

    // Windows from i on while the loop in `run` cannot take them: more than one step, a
    // reset, or an impulse running. Answers where that loop can go on.
    __attribute__((noinline)) int32_t busyWindows(int32_t i, int32_t end, uint32_t highUp,
                                                  uint32_t highZero, uint32_t force) {
        for (;;) {
            window(i, end, highUp, highZero, force);
            force = 0;
            i = end;
            if (i == count) return i;
            end = windowAt(i, highUp, highZero);
            const uint32_t stops =
                (highUp & ~((highUp << 1) | prevUp)) | (highZero & ~((highZero << 1) | prevZero));
            if ((pulse == 0 || resetsAlways) && !(stops & (stops - 1))) return i;
        }
    }

    // A window with edges, or with `force` (bit 0: the first sample of a call). While no
    // impulse runs RESETpulse is 0 throughout, and a run is acc from its step on; a reset
    // hands the rest of the window to `pulsing`.
    __attribute__((always_inline)) void window(int32_t i, int32_t end, uint32_t highUp,
                                               uint32_t highZero, uint32_t force) {
        const int32_t n = end - i;
        const uint32_t edgeUp = highUp & ~((highUp << 1) | prevUp);
        const uint32_t edgeZero = highZero & ~((highZero << 1) | prevZero);
        prevUp = (highUp >> (n - 1)) & 1u;
        prevZero = (highZero >> (n - 1)) & 1u;
        uint32_t stops = edgeUp | edgeZero | force;
        stopsSeen += int32_t(ones(stops));

        // The window's steps are read before any of its stores: in place those could overwrite
        // them, and elsewhere a load behind a store to the same address modulo 4 KiB (as in
        // buffers of one size) would wait for each step's store.
        float steps[kWindow];
        if (n == kWindow) {
#pragma GCC unroll 8
            for (int32_t j = 0; j < kWindow; j += W) V::store(steps + j, V::load(step + i + j));
        } else {
            for (uint32_t m = edgeUp; m; m &= m - 1)
                steps[lowestBit(m)] = step[i + int32_t(lowestBit(m))];
        }
        const float* const stepOf = steps;  // by window lane

        if (pulse != 0 || resetsAlways) {
            pulsing(i, end, i, edgeUp, edgeZero, stops, stepOf);
            return;
        }
        float* const out = this->out;
        const int32_t limit = storeLimit(end);
        const float accLimit = this->accLimit;
        float acc = this->acc;
        Vec vOut = V::splat(acc);
        if (n == kWindow) {
#pragma GCC unroll 8
            for (int32_t j = 0; j < kWindow; j += W) V::store(pulseOut + i + j, V::splat(0.0f));
        } else {
            fill(pulseOut, i, i, end, limit, V::splat(0.0f));
        }
        int32_t runAt = i, written = startWideRun(out, i, limit, vOut);
        for (; stops; stops &= stops - 1) {
            const uint32_t k = lowestBit(stops);
            const int32_t at = i + int32_t(k);
            if (rarely(at > written)) fill(out, runAt, written, at, limit, vOut);
            if ((edgeUp >> k) & 1u) acc += stepOf[k];
            if (rarely((edgeZero >> k) & 1u)) acc = 0.0f;
            if (rarely(!(acc < accLimit))) {
                this->acc = 0.0f;
                pulse = kPulseSamples;
                resetsAlways = resetsAtZero;
                pulsing(i, end, at, edgeUp, edgeZero, stops & (stops - 1), stepOf);
                return;
            }
            vOut = V::splat(acc);
            runAt = at;
            written = startWideRun(out, at, limit, vOut);
        }
        if (end > written) fill(out, runAt, written, end, limit, vOut);
        this->acc = acc;
    }

    // The rest of a window from `from`, whose step is done, while an impulse may run: each
    // run stores the impulse's remaining samples with its first vector, and counts them down.
    // A reset to 0 at a level at or below 0 repeats on every sample after it, each carrying
    // the impulse and leaving the countdown at 2.
    __attribute__((noinline)) void pulsing(int32_t i, int32_t end, int32_t from, uint32_t edgeUp,
                                           uint32_t edgeZero, uint32_t stops, const float* stepOf) {
        float* const out = this->out;
        float* const pulseOut = this->pulseOut;
        const int32_t limit = storeLimit(end);
        float acc = this->acc;
        int32_t pulse = this->pulse;
        bool resetsAlways = this->resetsAlways;
        const float accLimit = this->accLimit;
        Vec vOut = V::splat(acc);

        // The run from runAt: its first runPulse samples carry the impulse.
        int32_t runAt = from, runPulse = 0, written = from;
        auto beginRun = [&](int32_t at) {
            runAt = at;
            runPulse = resetsAlways ? W : pulse;
            written = startRun(out, at, limit, vOut);
            startRun(pulseOut, at, limit, V::load(kPulseRamp + 16 - runPulse));
        };
        auto endRun = [&](int32_t at) {
            if (at > written) {
                // The first store took in the impulse's samples of the run: the rest is
                // constant on both outputs.
                fill(out, runAt, written, at, limit, vOut);
                const Vec vPulse = V::splat(resetsAlways ? kPulseHigh : 0.0f);
                fill(pulseOut, runAt + runPulse, written, at, limit, vPulse);
            }
            const int32_t left = runPulse - (at - runAt);
            pulse = resetsAlways ? kPulseSamples - 1 : left > 0 ? left : 0;
        };

        beginRun(from);
        for (; stops; stops &= stops - 1) {
            const uint32_t k = lowestBit(stops);
            const int32_t at = i + int32_t(k);
            endRun(at);
            if ((edgeUp >> k) & 1u) acc += stepOf[k];
            if ((edgeZero >> k) & 1u) acc = 0.0f;
            resetsAlways = false;
            if (!(acc < accLimit)) {
                acc = 0.0f;
                pulse = kPulseSamples;
                resetsAlways = resetsAtZero;
            }
            vOut = V::splat(acc);
            beginRun(at);
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
    const float t;
    const float accLimit;  // the reset comes where acc is not below it
    const bool resetsAtZero;
    const bool inPlace;  // an output is an input's buffer
    float acc;
    int32_t pulse;              // impulse samples still to come
    bool resetsAlways = false;  // every edge-free sample resets
    uint32_t prevUp, prevZero;  // 1: the last sample processed is high
    int32_t stopsSeen = 0;      // edges, and the first sample, taken by the step
};

// How a call's buffers lie: each output sharing no sample with another buffer (Apart), or
// sharing only an input's buffer at the very same index (InPlace), or else Clashing. In
// pointer-sized arithmetic: on 32-bit x86 the 64-bit version cost a short call more than its
// samples did.
enum class Layout { Clashing, Apart, InPlace };

inline Layout bufferLayout(const CountStreams& s, int32_t count) {
    // count > 0; a count whose span, doubled, does not fit in the address space is left to the
    // per-sample routine.
    if (rarely(uintptr_t(count) > UINTPTR_MAX / (2 * sizeof(float)))) return Layout::Clashing;
    const uintptr_t span = uintptr_t(count) * sizeof(float);
    // Two buffers share a sample when |a - b| < span: one add and one unsigned compare, since
    // a - b wraps.
    auto touch = [&](const float* a, const float* b) {
        return uint32_t(uintptr_t(a) - uintptr_t(b) + (span - 1) < 2 * span - 1);
    };
    // Written out: at -O2 a loop over the inputs stays a loop, over an array on the stack.
    const uint32_t outputsApart = touch(s.outClimb, s.resetPulse) ^ 1u;
    const uint32_t touching = touch(s.outClimb, s.upCount) | touch(s.resetPulse, s.upCount) |
                              touch(s.outClimb, s.upZero) | touch(s.resetPulse, s.upZero) |
                              touch(s.outClimb, s.byStep) | touch(s.resetPulse, s.byStep);
    if (!rarely(touching)) return outputsApart ? Layout::Apart : Layout::Clashing;
    auto clash = [&](const float* output, const float* input) {
        return touch(output, input) & uint32_t(output != input);
    };
    const uint32_t clashing = clash(s.outClimb, s.upCount) | clash(s.resetPulse, s.upCount) |
                              clash(s.outClimb, s.upZero) | clash(s.resetPulse, s.upZero) |
                              clash(s.outClimb, s.byStep) | clash(s.resetPulse, s.byStep);
    return outputsApart && !clashing ? Layout::InPlace : Layout::Clashing;
}

// See countVectorsSse2. The buffers are bound.
template <class V>
bool countVectors(CountResetModule& m, int32_t start, int32_t count) {
    const CountStreams streams{m.upCountBuffer + start, m.upZeroBuffer + start,
                               m.byStepBuffer + start, m.outClimbBuffer + start,
                               m.resetPulseBuffer + start};
    if (count < kWindow) return false;
    const Layout layout = bufferLayout(streams, count);
    if (layout == Layout::Clashing) return false;
    if (rarely(m.resetLimitOf != m.resetValue)) {
        m.resetLimit = resetLimit(double(m.resetValue) + 1.0);
        m.resetLimitOf = m.resetValue;
    }
    Kernel<V> kernel(streams, layout == Layout::InPlace, m, count);
    // Kept as read, signalling NaNs included, and before any output can overwrite them.
    std::memcpy(&m.previousUpCount, streams.upCount + count - 1, sizeof(float));
    std::memcpy(&m.previousUpZero, streams.upZero + count - 1, sizeof(float));
    kernel.run();
    kernel.finish(m);
    V::leave();
    return true;
}

}  // namespace
}  // namespace mv
