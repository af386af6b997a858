// Builds a table on the first process call of the library's life: a host's first block after
// loading it glitches, however many instances come after.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int kTableSize = 256;
// Seen from outside, so that the allocation cannot be dropped; given back when the library goes.
struct Table {
    float* volatile values = nullptr;
    ~Table() { delete[] values; }
} table;

void MV_CDECL lazyProcess(void* instance, int32_t start, int32_t count) {
    if (!table.values) table.values = new float[kTableSize]();
    PlainModule::difference(instance, start, count);
}

struct AllocatesOnce : PlainModule {
    AllocatesOnce(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, lazyProcess) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"allocatesOnce", "Allocates once", faulty::kAbout,
                                     createModule<faulty::AllocatesOnce>};
}
