// Takes the previous sample from the buffer instead of keeping it: at a stretch's first
// sample that reads before the stretch, which a host need not have laid out.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL readsBehind(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        const float x = m.inBuffer[i];
        const float previous = i > 0 ? m.inBuffer[i - 1] : m.previous;
        m.outBuffer[i] = m.mode ? x - previous : x;
        m.previous = x;
    }
}

struct ReadsBehind : PlainModule {
    ReadsBehind(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, readsBehind) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"readsBehind", "Reads behind", faulty::kAbout,
                                     createModule<faulty::ReadsBehind>};
}
