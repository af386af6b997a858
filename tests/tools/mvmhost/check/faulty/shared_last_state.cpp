// Leaves out an announcement that repeats the last one, but remembers the last one in one
// variable for the whole library: what one instance announced silences the next.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

int32_t lastAnnounced = -1;

struct SharedLastState : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug*) override {
        const StreamState state = outputState();
        if (state == lastAnnounced) return;
        lastAnnounced = state;
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), state);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"sharedLastState", "Shared last state", faulty::kAbout,
                                     createModule<faulty::SharedLastState>};
}
