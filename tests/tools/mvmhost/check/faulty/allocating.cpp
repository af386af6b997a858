// Allocates on the real-time path: a scratch vector in its process routine, and malloc in its
// stream-state handler.
#include <cstdlib>
#include <vector>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

// Seen from outside, so that the compiler cannot drop an allocation nobody reads.
void* volatile lastBlock = nullptr;

void MV_CDECL scratchProcess(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    if (!m.inBuffer || !m.outBuffer || count <= 0) return;
    std::vector<float> scratch(m.inBuffer + start, m.inBuffer + start + count);
    lastBlock = scratch.data();
    PlainModule::difference(instance, start, count);
}

struct Allocating : PlainModule {
    Allocating(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, scratchProcess) {}
    void onPlugStateChange(Plug* plug) override {
        void* note = std::malloc(32);
        lastBlock = note;
        PlainModule::onPlugStateChange(plug);
        std::free(note);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"allocating", "Allocating", faulty::kAbout,
                                     createModule<faulty::Allocating>};
}
