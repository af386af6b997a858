// Runs its state handler before the new state is stored, so it announces what the inputs did
// before the change: Static when an input starts streaming beside a held one.
#include "tests/tools/mvmhost/check/faulty/sum_module.h"

namespace mv::faulty {
namespace {

struct HandlerBeforeStore : SumModule {
    using SumModule::SumModule;
    void handleEvent(ModuleEvent* event) override {
        if (event->type != PlugStateChange) return SumModule::handleEvent(event);
        if (Plug* plug = getPlug(static_cast<int32_t>(event->param3))) {
            SumModule::onPlugStateChange(plug);
            storing = true;
            plug->setStreamState(static_cast<StreamState>(event->param1));
            storing = false;
        }
    }
    void onPlugStateChange(Plug* plug) override {
        if (!storing) SumModule::onPlugStateChange(plug);
    }
    bool storing = false;
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"handlerBeforeStore", "Handler before store", faulty::kAbout,
                                     createModule<faulty::HandlerBeforeStore>};
}
