// Sets a reserved word of its record after construction, where the host reads 0.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int32_t kLeftOver = 0x5A5A5A5A;

struct ReservedLeft : PlainModule {
    ReservedLeft(HostCallback callback, intptr_t handle) : PlainModule(callback, handle) {
        getRecord()->reserved[2] = kLeftOver;
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"reservedLeft", "Reserved word left", faulty::kAbout,
                                     createModule<faulty::ReservedLeft>};
}
