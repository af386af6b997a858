// Keeps its previous sample in one variable for the whole library, shared by every instance.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

float sharedPrevious = 0.0f;

void MV_CDECL sharedDifference(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        m.outBuffer[i] = m.inBuffer[i] - sharedPrevious;
        sharedPrevious = m.inBuffer[i];
    }
}

struct SharedState : PlainModule {
    SharedState(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, sharedDifference) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"sharedState", "Shared state", faulty::kAbout,
                                     createModule<faulty::SharedState>};
}
