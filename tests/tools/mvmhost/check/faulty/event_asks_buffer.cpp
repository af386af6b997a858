// Asks the host for its input's buffer again whenever a state changes, long after open.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct EventAsksBuffer : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug* plug) override {
        PlainModule::onPlugStateChange(plug);
        if (void* buffer = reinterpret_cast<void*>(callHost(hostGetPlugValuePointer, In)))
            lastBuffer = buffer;
    }
    void* lastBuffer = nullptr;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"eventAsksBuffer", "Event asks for a buffer", faulty::kAbout,
                                     createModule<faulty::EventAsksBuffer>};
}
