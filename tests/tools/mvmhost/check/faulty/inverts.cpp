// Answers the reciprocal of its input: infinite at 0, which a host takes, so it passes the
// value check; NaN only where its input is NaN.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL reciprocal(void* instance, int32_t start, int32_t count) {
    eachSample(PlainModule::of(instance), start, count, [](float x) { return 1.0f / x; });
}

struct Inverts : PlainModule {
    Inverts(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, reciprocal) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"inverts", "Inverts", faulty::kAbout,
                                     createModule<faulty::Inverts>};
}
