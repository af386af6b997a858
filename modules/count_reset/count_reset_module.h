// countRESET1: counts rising edges on upCOUNT, adding bySTEP to OUTclimb; resets OUTclimb to
// 0 V with a 3-sample 5 V impulse on RESETpulse when it reaches the reset@ level; upZERO
// zeroes it without an impulse.
#pragma once

#include <cstdint>

#include "framework/module_base.h"
#include "modules/count_reset/count_kernel.h"

namespace mv {

// Plug indices; append-only, since hosts and saved patches depend on them.
enum CountResetPlug : int32_t {
    UpCount = 0,    ///< input, Signal
    ResetAt = 1,    ///< input, Enumerated: the reset list
    UpZero = 2,     ///< input, Signal
    ByStep = 3,     ///< input, Signal
    OutClimb = 4,   ///< output, Signal
    ResetPulse = 5, ///< output, Signal
    CountResetPlugCount
};

// Items "1=0" .. "999=998": the label is the reset level in volts, the value that level - 1.
// Built once per loaded library, by whichever instance first describes a plug.
const char* buildResetList();
constexpr int32_t kResetListLength = 7773;

class CountResetModule : public ModuleBase {
public:
    static constexpr float kThreshold = 0.333f;  // 3.33 V; at or above is high
    static constexpr int16_t kInitialResetValue = 7;  // the item labelled 8
    static constexpr int16_t kPulseLength = 3;
    static constexpr float kPulseLevel = 0.5f;  // 5 V

    CountResetModule(HostCallback callback, intptr_t hostHandle);
    ~CountResetModule() override;

    void onPlugStateChange(Plug* plug) override;
    void open() override;
    bool getPlugProperties(int32_t index, PlugInfo* info) override;

    // The per-sample process routine: the reference for the kernels, and their fallback.
    static void MV_CDECL countSamples(void* module, int32_t start, int32_t count);
    // The same results through a kernel; `open` selects the best the processor has.
    static void MV_CDECL countSamplesSse2(void* module, int32_t start, int32_t count);
    static void MV_CDECL countSamplesAvx2(void* module, int32_t start, int32_t count);
    static ProcessRoutine fastestRoutine();

    // Plug value locations: the host writes buffer addresses and the reset@ value here.
    float* upCountBuffer{};
    float* upZeroBuffer{};
    float* byStepBuffer{};
    float* outClimbBuffer{};
    float* resetPulseBuffer{};
    // Counting state, set at open.
    float previousUpCount{};
    float previousUpZero{};
    float threshold{};
    float accumulator{};
    int16_t resetValue{};
    int16_t pulseCountdown{};
    // The kernels' reset limit and the resetValue it belongs to (none yet).
    float resetLimit{};
    int32_t resetLimitOf{INT32_MIN};
};

}  // namespace mv
