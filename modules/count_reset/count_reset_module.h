// countRESET1: counts rising edges on upCOUNT, adding bySTEP to OUTclimb; resets OUTclimb to
// 0 V with a 3-sample 5 V impulse on RESETpulse when it reaches the reset@ level; upZERO
// zeroes it without an impulse.
#pragma once

#include <cstdint>

#include "framework/module_base.h"

namespace mv {

// Plug indices; append-only, since hosts and saved patches depend on them.
enum CountResetPlug : int32_t {
    UpCount = 0,     ///< input, Signal
    ResetAt = 1,     ///< input, Enumerated: the reset list
    UpZero = 2,      ///< input, Signal
    ByStep = 3,      ///< input, Signal
    OutClimb = 4,    ///< output, Signal
    ResetPulse = 5,  ///< output, Signal
    CountResetPlugCount
};

// Items "1=0" .. "999=998": the label is the reset level in volts, the value that level - 1.
// Built once per loaded library, by whichever instance first describes a plug.
const char* buildResetList();
constexpr int32_t kResetListLength = 7773;

class CountResetModule : public ModuleBase {
public:
    // The counting constants, shared by the per-sample routine and the kernels.
    static constexpr float kThreshold = 0.333f;  // 3.33 V; at or above is high
    static constexpr float kSeedStep = 0.1f;     // seeds the previous samples above kThreshold
    static constexpr double kVoltsPerUnit = 10.0;
    static constexpr int16_t kInitialResetValue = 7;  // the item labelled 8
    static constexpr int16_t kPulseLength = 3;        // samples
    static constexpr float kPulseLevel = 0.5f;        // 5 V

    CountResetModule(HostCallback callback, intptr_t hostHandle);
    ~CountResetModule() override;

    void onPlugStateChange(Plug* plug) override;
    void open() override;
    bool getPlugProperties(int32_t index, PlugInfo* info) override;

    // The per-sample process routine: the reference for the kernels, and their fallback.
    static void MV_CDECL countSamples(void* module, int32_t start, int32_t count);
    // The same results through a kernel (count_kernel*.cpp); `open` selects the best the
    // processor has.
    static void MV_CDECL countSamplesSse2(void* module, int32_t start, int32_t count);
    static void MV_CDECL countSamplesAvx2(void* module, int32_t start, int32_t count);
    static ProcessRoutine fastestRoutine();

    // The per-sample routine's work on this instance, inlined into the kernels' busy path too.
    [[gnu::always_inline]] void countEach(int32_t start, int32_t count) {
        if (count <= 0 || !buffersBound()) return;
        const float* upCount = upCountBuffer + start;
        const float* upZero = upZeroBuffer + start;
        const float* byStep = byStepBuffer + start;
        float* outClimb = outClimbBuffer + start;
        float* resetPulse = resetPulseBuffer + start;
        const float t = threshold;
        const double resetLevel = double(resetValue) + 1.0;
        float previousUp = previousUpCount, previousZero = previousUpZero;
        float acc = accumulator;
        int32_t pulse = pulseCountdown;
        for (int32_t i = 0; i < count; ++i) {
            // All inputs of an index are read before it is written: outputs may share a buffer.
            const float up = upCount[i], zero = upZero[i], step = byStep[i];
            if (up >= t && !(previousUp >= t)) acc += step;
            if (zero >= t && !(previousZero >= t)) acc = 0.0f;
            // Exact in double; a NaN accumulator fails the test and so resets.
            if (!(resetLevel > double(acc) * kVoltsPerUnit)) {
                acc = 0.0f;
                pulse = kPulseLength;
            }
            resetPulse[i] = pulse > 0 ? (--pulse, kPulseLevel) : 0.0f;
            outClimb[i] = acc;
            previousUp = up;
            previousZero = zero;
        }
        previousUpCount = previousUp;
        previousUpZero = previousZero;
        accumulator = acc;
        pulseCountdown = static_cast<int16_t>(pulse);
    }

    // Without all five buffers a call does nothing. Inlined into each kernel, whose file may
    // be built for another instruction set: no out-of-line copy may be shared.
    [[gnu::always_inline]] bool buffersBound() const {
        return upCountBuffer && upZeroBuffer && byStepBuffer && outClimbBuffer && resetPulseBuffer;
    }

    // Plug value locations: the host writes buffer addresses and the reset@ value here.
    float* upCountBuffer{};
    float* upZeroBuffer{};
    float* byStepBuffer{};
    float* outClimbBuffer{};
    float* resetPulseBuffer{};
    // The counting state, set at open; every process routine works on these fields.
    float previousUpCount{};
    float previousUpZero{};
    float threshold{};
    float accumulator{};
    int16_t resetValue{};
    int16_t pulseCountdown{};
    // The kernels' reset limit and the resetValue it belongs to (none yet): worked out again
    // only when resetValue changes, since its loop and division cost more than a short call.
    float resetLimit{};
    int32_t resetLimitOf{INT32_MIN};
    // The kernels' choice of path: while busySamplesLeft is positive, calls take the
    // per-sample routine and count it down; busyCredit weighs the edges the kernels met
    // against their samples.
    int32_t busySamplesLeft{};
    int32_t busyCredit{};
};

}  // namespace mv
