// Forgets its previous sample at every call, so its output depends on how a block is split.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL forgetful(void* instance, int32_t start, int32_t count) {
    PlainModule::of(instance).previous = 0.0f;
    PlainModule::difference(instance, start, count);
}

struct SplitDependent : PlainModule {
    SplitDependent(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, forgetful) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"splitDependent", "Split dependent", faulty::kAbout,
                                     createModule<faulty::SplitDependent>};
}
