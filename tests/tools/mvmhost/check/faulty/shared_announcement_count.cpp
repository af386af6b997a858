// Announces Streaming for its first announcements while it settles, but counts them in one
// variable for the whole library: a later instance settles at once.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

constexpr int32_t kSettlingAnnouncements = 16;
int32_t announcementsMade = 0;

struct SharedAnnouncementCount : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug*) override {
        const StreamState state =
            announcementsMade++ < kSettlingAnnouncements ? Streaming : outputState();
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock(), state);
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"sharedAnnouncementCount", "Shared announcement count",
                                     faulty::kAbout, createModule<faulty::SharedAnnouncementCount>};
}
