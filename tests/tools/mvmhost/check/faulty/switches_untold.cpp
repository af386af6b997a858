// Opens correctly, then switches to a routine of its own for Streaming input (the same
// arithmetic) in the state-change handler, without telling the host.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

void MV_CDECL streamingDifference(void* instance, int32_t start, int32_t count) {
    PlainModule::difference(instance, start, count);
}

struct SwitchesUntold : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug* plug) override {
        PlainModule::onPlugStateChange(plug);
        if (plug->getStreamState() == Streaming) selectUntold(*this, streamingDifference);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"switchesUntold", "Switches untold", faulty::kAbout,
                                     createModule<faulty::SwitchesUntold>};
}
