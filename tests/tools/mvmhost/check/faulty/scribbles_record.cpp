// Keeps its previous sample in a spare word of its module record instead of a field of its own.
#include <cstring>

#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL scribble(void* instance, int32_t start, int32_t count) {
    PlainModule& m = PlainModule::of(instance);
    PlainModule::difference(instance, start, count);
    std::memcpy(&m.getRecord()->reserved[0], &m.previous, sizeof m.previous);
}

struct ScribblesRecord : PlainModule {
    ScribblesRecord(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle, scribble) {}
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"scribblesRecord", "Scribbles on its record", faulty::kAbout,
                                     createModule<faulty::ScribblesRecord>};
}
