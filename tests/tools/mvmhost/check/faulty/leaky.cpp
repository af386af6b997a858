// Allocates a history per instance and never frees it.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct Leaky : PlainModule {
    Leaky(HostCallback callback, intptr_t handle)
        : PlainModule(callback, handle), history(new float[64]) {}
    float* history;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"leaky", "Leaky", faulty::kAbout, createModule<faulty::Leaky>};
}
