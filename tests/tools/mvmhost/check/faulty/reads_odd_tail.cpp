// Works through its input two samples at a time, and on a stretch of odd length reads the
// sample after the stretch's last one: harmless while the host's buffer goes on, a crash
// where the stretch ends at the end of readable memory.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL pairwise(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    const int32_t end = start + count;
    for (int32_t i = start; i < end; i += 2) {
        const float a = m.inBuffer[i];
        const float b = *static_cast<const volatile float*>(
            &m.inBuffer[i + 1]);  // read before the bound is looked at
        m.outBuffer[i] = m.mode ? a - m.previous : a;
        m.previous = a;
        if (i + 1 == end) break;
        m.outBuffer[i + 1] = m.mode ? b - a : b;
        m.previous = b;
    }
}

struct ReadsOddTail : PlainModule {
    ReadsOddTail(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, pairwise) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"readsOddTail", "Reads odd tail", faulty::kAbout,
                                     createModule<faulty::ReadsOddTail>};
}
