// Glides towards its input at a bounded rate, so its output goes on moving for many samples
// after a step, yet announces Static whenever the input does not stream.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr float kGlidePerSample = 1.0f / 64.0f;

void MV_CDECL glide(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        float step = m.inBuffer[i] - m.previous;
        if (step > kGlidePerSample)
            step = kGlidePerSample;
        else if (step < -kGlidePerSample)
            step = -kGlidePerSample;
        else if (step != step)
            step = 0.0f;
        m.previous += step;
        m.outBuffer[i] = m.previous;
    }
}

struct GlidesWhileStatic : PlainModule {
    GlidesWhileStatic(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, glide) {}
    void onPlugStateChange(Plug*) override {
        Plug* in = getPlug(In);
        const StreamState state = in && in->getStreamState() == Streaming ? Streaming : Static;
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), state);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"glidesWhileStatic", "Glides while Static", faulty::kAbout,
                                     createModule<faulty::GlidesWhileStatic>};
}
