// Smooths the difference with a state that halves every sample and is never flushed to 0:
// once the input holds still the state falls through the denormals.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct DecaysToDenormal : PlainModule {
    DecaysToDenormal(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, smoothed) {}
    float state = 0.0f;

    void open() override {
        PlainModule::open();
        state = 0.0f;
    }
    static void MV_CDECL smoothed(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<DecaysToDenormal&>(PlainModule::of(instance));
        eachSample(m, start, count, [&](float x) {
            return m.state = 0.5f * m.state + 0.5f * (m.mode ? x - m.previous : x);
        });
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"decaysToDenormal", "Decays to denormals", faulty::kAbout,
                                     createModule<faulty::DecaysToDenormal>};
}
