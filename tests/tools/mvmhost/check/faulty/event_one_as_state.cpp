// Takes events of type 1 for stream-state changes too, as if the type were a flag: the
// framework then stores the state and the module announces its output.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int32_t kMistakenType = 1;

struct EventOneAsState : PlainModule {
    using PlainModule::PlainModule;
    void handleEvent(ModuleEvent* event) override {
        if (event->type != kMistakenType) return PlainModule::handleEvent(event);
        ModuleEvent change = *event;
        change.type = PlugStateChange;
        PlainModule::handleEvent(&change);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"eventOneAsState", "Event one as state", faulty::kAbout,
                                     createModule<faulty::EventOneAsState>};
}
