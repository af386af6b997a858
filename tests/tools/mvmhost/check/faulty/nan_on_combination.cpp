// With "mode" Off it passes its input's square root on, and forgets that the input may be
// negative: NaN comes out only for that combination of list value and input.
#include <cmath>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL rootWhenOff(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    eachSample(m, start, count, [&](float x) { return m.mode ? x - m.previous : std::sqrt(x); });
}

struct NanOnCombination : PlainModule {
    NanOnCombination(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, rootWhenOff) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"nanOnCombination", "NaN on a combination", faulty::kAbout,
                                     createModule<faulty::NanOnCombination>};
}
