// Looks one sample ahead of each sample it writes, past the end of every stretch: the
// sample is there in a host's whole block, but not when a stretch ends at the page.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL readsAhead(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        const float x = m.inBuffer[i];
        const volatile float next = m.inBuffer[i + 1];  // looked at, never used
        (void)next;
        m.outBuffer[i] = m.mode ? x - m.previous : x;
        m.previous = x;
    }
}

struct ReadsAhead : PlainModule {
    ReadsAhead(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, readsAhead) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"readsAhead", "Reads ahead", faulty::kAbout,
                                     createModule<faulty::ReadsAhead>};
}
