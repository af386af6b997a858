// Waits forever when asked to process no samples.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL waitForSamples(void* instance, int32_t start, int32_t count) {
    volatile bool waiting = count == 0;
    while (waiting) {}
    PlainModule::difference(instance, start, count);
}

struct Hanging : PlainModule {
    Hanging(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, waitForSamples) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"hanging", "Hanging", faulty::kAbout,
                                     createModule<faulty::Hanging>};
}
