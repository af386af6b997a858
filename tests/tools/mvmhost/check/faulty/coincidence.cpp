// Ramps its output while both "in" and a second input "gate" are high, and announces only what
// the input that just changed implies: right for each input alone (the other held low), wrong
// when one is held high and the other steps up.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr float kHigh = 0.5f;
constexpr float kRampPerSample = 1.0f / 256.0f;
constexpr int32_t Gate = PlainModule::PlugCount;

struct Coincidence : PlainModule {
    Coincidence(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, ramp) {}

    bool getPlugProperties(int32_t index, PlugInfo* info) override {
        if (index != Gate) return PlainModule::getPlugProperties(index, info);
        *info = {&gateBuffer, PlugInput, Signal, "gate", "0", nullptr, 0, 0};
        return true;
    }
    void onPlugStateChange(Plug* plug) override {
        const StreamState state = plug->getStreamState() == Streaming ? Streaming : Static;
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), state);
    }
    static void MV_CDECL ramp(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<Coincidence&>(PlainModule::of(instance));
        if (!m.inBuffer || !m.gateBuffer || !m.outBuffer) return;
        for (int32_t i = start; i < start + count; ++i) {
            if (m.inBuffer[i] >= kHigh && m.gateBuffer[i] >= kHigh) m.previous += kRampPerSample;
            if (m.previous >= 1.0f) m.previous = 0.0f;
            m.outBuffer[i] = m.previous;
        }
    }
    float* gateBuffer = nullptr;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"coincidence", "Coincidence", faulty::kAbout,
                                     createModule<faulty::Coincidence>};
}
