// Answers the direction of change, the difference divided by its own size: 0 / 0, NaN,
// whenever the input holds still.
#include <cmath>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL direction(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    eachSample(m, start, count,
               [&](float x) { return m.mode ? (x - m.previous) / std::fabs(x - m.previous) : x; });
}

struct NanWhenHeld : PlainModule {
    NanWhenHeld(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, direction) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"nanWhenHeld", "NaN when held", faulty::kAbout,
                                     createModule<faulty::NanWhenHeld>};
}
