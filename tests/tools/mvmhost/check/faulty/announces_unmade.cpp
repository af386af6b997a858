// Announces its output by its own description index rather than through the plug the host
// made: with a host plug count below its three descriptions, that plug does not exist.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct AnnouncesUnmade : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug*) override {
        const intptr_t clock = getSampleClock();
        callHost(hostSetOutputState, Out, outputState(), reinterpret_cast<void*>(clock));
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"announcesUnmade", "Announces unmade plugs", faulty::kAbout,
                                     createModule<faulty::AnnouncesUnmade>};
}
