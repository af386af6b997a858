// The plain module with a second input "b", summed onto "out": its output is Static while both
// inputs hold, so it announces all three states. The faults about what Static promises are made
// from it.
#pragma once

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {

class SumModule : public PlainModule {
public:
    static constexpr int32_t B = PlainModule::PlugCount;

    SumModule(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, sum) {}

    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        if (index != B) return PlainModule::getPlugProperties(index, info);
        *info = {&bBuffer, PlugInput, Signal, "b", "0", nullptr, 0, 0};
        return true;
    }
    void onPlugStateChange(Plug*) override { announce(combined()); }

    // The busier of the two inputs' states: out moves when either does, and only then.
    StreamState combined() {
        const StreamState a = stateOf(In), b = stateOf(B);
        return a > b ? a : b;
    }
    StreamState stateOf(int32_t index) {
        Plug* plug = getPlug(index);
        return plug ? plug->getStreamState() : Static;
    }
    void announce(StreamState state) {
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), state);
    }

    static void MV_CDECL sum(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<SumModule&>(PlainModule::of(instance));
        if (!m.inBuffer || !m.bBuffer || !m.outBuffer) return;
        for (int32_t i = start; i < start + count; ++i)
            m.outBuffer[i] = m.inBuffer[i] + m.bBuffer[i];
    }

    float* bBuffer = nullptr;
};

}  // namespace mv::faulty
