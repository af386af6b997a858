// Clears at close a history it only finds at its first process call: closing an instance
// that was opened but never processed writes through a null pointer.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct CloseUnprocessed : PlainModule {
    CloseUnprocessed(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, remembering) {}
    void open() override {
        PlainModule::open();
        last = nullptr;
    }
    void close() override { *last = 0.0f; }

    static void MV_CDECL remembering(void* instance, int32_t start, int32_t count) {
        auto& m = static_cast<CloseUnprocessed&>(PlainModule::of(instance));
        m.last = &m.history;
        difference(instance, start, count);
    }

    float history = 0.0f;
    float* last = &history;  // null from open until the first process call
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"closeUnprocessed", "Close unprocessed", faulty::kAbout,
                                     createModule<faulty::CloseUnprocessed>};
}
