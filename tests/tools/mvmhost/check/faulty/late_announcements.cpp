// Dates its announcements one sample before the host's clock, as if from the sample before
// the change.
#include "tests/tools/mvmhost/check/faulty/plain_module.h"

namespace mv::faulty {
namespace {

struct LateAnnouncements : PlainModule {
    using PlainModule::PlainModule;
    void onPlugStateChange(Plug*) override {
        if (Plug* out = getPlug(Out)) out->setOutputState(getSampleClock() - 1, outputState());
    }
};

}  // namespace
}  // namespace mv::faulty

namespace mv {
const LibraryModule libraryModule = {"lateAnnouncements", "Late announcements", faulty::kAbout,
                                     createModule<faulty::LateAnnouncements>};
}
