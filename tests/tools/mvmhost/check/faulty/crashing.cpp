// Takes every event it does not know for a routine call and jumps to its third parameter.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct Crashing : PlainModule {
    using PlainModule::PlainModule;
    void handleEvent(ModuleEvent* event) override {
        if (event->type == PlugStateChange || event->type == DataEvent)
            return PlainModule::handleEvent(event);
        reinterpret_cast<ModuleRoutine>(event->param3)(*this);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"crashing", "Crashing", faulty::kAbout,
                                     createModule<faulty::Crashing>};
}
