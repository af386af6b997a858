// A clock divider: out toggles between 0 and 5 V on every second rising edge of in, and is
// announced Static whatever in does, as if a pulse output needed no state.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr float kHigh = 0.333f;
constexpr float kPulse = 0.5f;
constexpr int kEdgesPerToggle = 2;

struct StaticDivider : PlainModule {
    StaticDivider(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, divide) {}
    void open() override {
        PlainModule::open();
        edges = 0;
        level = 0.0f;
    }
    void onPlugStateChange(Plug*) override {
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), Static);
    }
    static void MV_CDECL divide(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<StaticDivider&>(PlainModule::of(instance));
        if (!m.inBuffer || !m.outBuffer) return;
        for (int32_t i = start; i < start + count; ++i) {
            const float x = m.inBuffer[i];
            if (x >= kHigh && !(m.previous >= kHigh) && ++m.edges % kEdgesPerToggle == 0)
                m.level = m.level == 0.0f ? kPulse : 0.0f;
            m.previous = x;
            m.outBuffer[i] = m.level;
        }
    }
    int edges = 0;
    float level = 0.0f;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"staticDivider", "Static divider", faulty::kAbout,
                                     createModule<faulty::StaticDivider>};
}
