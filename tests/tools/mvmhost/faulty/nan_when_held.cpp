// Answers the direction of change, the difference divided by its own size: 0 / 0, NaN,
// whenever the input holds still.
#include <cmath>

#include "tests/tools/mvmhost/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL direction(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        const float x = m.inBuffer[i], d = x - m.previous;
        m.outBuffer[i] = m.mode ? d / std::fabs(d) : x;
        m.previous = x;
    }
}

struct NanWhenHeld : PlainModule {
    NanWhenHeld(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, direction) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"nanWhenHeld", "NaN when held", faulty::kAbout,
                                     faulty::create<faulty::NanWhenHeld>};
}
