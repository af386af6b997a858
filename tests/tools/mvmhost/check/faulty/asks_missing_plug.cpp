// Still asks for the block start of a plug it no longer describes, as if its plug list had
// kept a gate input it dropped.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int32_t kDroppedGate = PlainModule::PlugCount;

struct AsksMissingPlug : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug* plug) override {
        PlainModule::onPlugStateChange(plug);
        gateStart = static_cast<int32_t>(callHost(hostGetBlockStartClock, kDroppedGate));
    }
    int32_t gateStart = 0;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"asksMissingPlug", "Asks for a missing plug", faulty::kAbout,
                                     createModule<faulty::AsksMissingPlug>};
}
