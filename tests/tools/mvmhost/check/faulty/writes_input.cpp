// Clears its input buffer after reading it, as if it owned it.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL consume(void* instance, int32_t start, int32_t count) {
    PlainModule::difference(instance, start, count);
    PlainModule& m = PlainModule::of(instance);
    if (m.inBuffer)
        for (int32_t i = start; i < start + count; ++i) m.inBuffer[i] = 0.0f;
}

struct WritesInput : PlainModule {
    WritesInput(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, consume) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"writesInput", "Writes input", faulty::kAbout,
                                     createModule<faulty::WritesInput>};
}
