// Clears its buffer pointers at open, as if the host had not written them yet.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct OpenClearsPointers : PlainModule {
    using PlainModule::PlainModule;
    void open() override {
        PlainModule::open();
        inBuffer = nullptr;
        outBuffer = nullptr;
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"openClearsPointers", "Open clears pointers", faulty::kAbout,
                                     createModule<faulty::OpenClearsPointers>};
}
