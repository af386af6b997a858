// Asks the host for the sample clock on every process call, on the path that must not ask.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

volatile int32_t lastClock = 0;

void MV_CDECL asksClock(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (count > 0) lastClock = m.getSampleClock();
    PlainModule::difference(instance, start, count);
}

struct ProcessAsksClock : PlainModule {
    ProcessAsksClock(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, asksClock) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"processAsksClock", "Process asks the clock", faulty::kAbout,
                                     createModule<faulty::ProcessAsksClock>};
}
