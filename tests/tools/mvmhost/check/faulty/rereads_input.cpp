// Reads its input again after writing its output, so an output on the input's buffer (in
// place) reads back its own sample as the previous input.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL rereads(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer) return;
    for (int32_t i = start; i < start + count; ++i) {
        m.outBuffer[i] = m.mode ? m.inBuffer[i] - m.previous : m.inBuffer[i];
        m.previous = m.inBuffer[i];
    }
}

struct RereadsInput : PlainModule {
    RereadsInput(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, rereads) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"rereadsInput", "Rereads input", faulty::kAbout,
                                     createModule<faulty::RereadsInput>};
}
