// Processes at most 8192 samples a call, whatever the host asked for: fine for the usual
// blocks, silent past that point of a long one.
#include <algorithm>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int32_t kMostPerCall = 8192;

void MV_CDECL clamped(void* instance, int32_t start, int32_t count) {
    PlainModule::difference(instance, start, std::min(count, kMostPerCall));
}

struct StopsAt8192 : PlainModule {
    StopsAt8192(HostCallback callback, intptr_t handle) : PlainModule(callback, handle, clamped) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"stopsAt8192", "Stops at 8192", faulty::kAbout,
                                     createModule<faulty::StopsAt8192>};
}
