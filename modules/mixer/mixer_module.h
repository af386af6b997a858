// mixer1: sums its inputs onto "out" at the level chosen on "level@"; a DataEvent mutes it for
// a number of samples. The host decides how many inputs there are: the last description,
// "in", repeats for every plug slot past the described ones.
#pragma once

#include <cstdint>

#include "framework/module_base.h"

namespace mv {

// Plug indices; append-only, since hosts and saved patches depend on them.
enum MixerPlug : int32_t {
    MixerOut = 0,    ///< output, Signal
    MixerLevel = 1,  ///< input, Enumerated: the level list
    MixerIn = 2,     ///< input, Signal; repeated as plugs 3, 4, ... when the host makes more
};

class MixerModule : public ModuleBase {
public:
    static constexpr int32_t kMaxInputs = 16;  // inputs past these are not mixed
    static constexpr int32_t kLevels = 7;      // items of the level list, values 0 .. 6

    MixerModule(HostCallback callback, intptr_t hostHandle) : ModuleBase(callback, hostHandle) {}

    bool getPlugProperties(int32_t index, PlugInfo* info) override;
    void open() override;
    void onPlugStateChange(Plug* plug) override;
    // A DataEvent mutes the output for `samples` samples from `clock`; 0 or less unmutes.
    void onDataEvent(int32_t clock, int32_t samples, int16_t second) override;

    static void MV_CDECL mix(void* instance, int32_t start, int32_t count);

    // Plug value locations: the host writes buffer addresses and the level value here.
    float* outBuffer{};
    float* inBuffer{};
    int16_t level{};

private:
    void unmute();    // scheduled by onDataEvent, run when the host hands the call back
    void announce();  // the output's stream state, from the inputs' and the mute

    float gains[kLevels]{};  // by level value, read from the list's labels at open
    float fallbackGain{};    // for a value the list does not hold: the first item's
    bool muted = false;
    int32_t muteUntil = 0;
};

}  // namespace mv
