// Writes one sample past the end of every stretch: an off-by-one loop bound.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL overrun(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer || count < 0) return;
    for (int32_t i = start; i <= start + count; ++i)
        m.outBuffer[i] = m.inBuffer[i > start ? i - 1 : i];
}

struct Overrun : PlainModule {
    Overrun(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, overrun) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"overrun", "Overrun", faulty::kAbout,
                                     createModule<faulty::Overrun>};
}
